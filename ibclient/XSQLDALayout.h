// The client library's layouts behind TIBXSQLDA and TIBXSQLVAR, for the few sources that
// hand descriptor records to the client library or read an entry directly.
#pragma once

#include <ibase.h>

#include "ibclient/IBXSQLDA.h"

namespace ibclient {

inline XSQLDA* XSQLDAOf(TIBXSQLDA& area) noexcept {
    return static_cast<XSQLDA*>(area.RawArea());
}

inline XSQLVAR* XSQLVAROf(const TIBXSQLVAR& item) noexcept {
    return static_cast<XSQLVAR*>(item.RawEntry());
}

} // namespace ibclient
