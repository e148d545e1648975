// TIBQuery: a dataset over one SELECT text. It keeps the text and the parameters found in it,
// hands the text to its select statement, prepares and opens with the first row fetched, and
// sends every parameter to the server with its value (NULL when it has none).
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "ibclient/IBCustomDataSet.h"
#include "ibclient/IBSQL.h"
#include "ibclient/IBXSQLDA.h"

namespace ibclient {

// One parameter marker of the query text.
struct TParam {
    std::string Name;
    TVariant Value;  // std::monostate: no value, sent as NULL
    bool IsNull() const noexcept { return std::holds_alternative<std::monostate>(Value); }
};

// The parameters of a query in the order of their markers; a name may occur several times.
class TParams {
public:
    int Count() const noexcept { return static_cast<int>(params_.size()); }
    // EListError "List index out of bounds (%d)" outside 0..Count-1.
    TParam& operator[](int index);
    const TParam& operator[](int index) const;
    TParam& Add(std::string name);
    void Clear() noexcept { params_.clear(); }
    // The first parameter named `name` (ASCII case-insensitive), or null.
    TParam* FindParam(std::string_view name) noexcept;

private:
    std::vector<TParam> params_;
};

// The dataset framework's scan for parameter markers. A colon outside quotes (', " or `)
// starts a marker whose name runs up to a line break, blank, ')', ',' or ';' outside quotes;
// the colon and the name become "?" and the name is recorded (a name that begins with a quote
// loses its first and last quote characters). "::" becomes ":". Comments are not recognised,
// so a marker inside one counts. Text is single-byte, so no byte pairs are skipped.
TParsedSQL ScanParamMarkers(std::string_view sql);

class TIBQuery : public TIBCustomDataSet {
public:
    // Loads the client library (client error 1 when it is missing); unbound, empty text.
    TIBQuery();
    // Closes and unprepares (errors swallowed).
    ~TIBQuery() override;

    const TSQLText& SQL() const noexcept { return sql_; }
    // Replaces the lines by `text` split at line breaks, then closes and unprepares the query,
    // rescans the parameters and hands the text to the select statement, which drops its
    // server statement. This happens also when the text equals the old one.
    void SetSQLText(std::string_view text);
    // As SetSQLText, but nothing happens when the joined lines equal the current text.
    void SetSQL(const std::vector<std::string>& lines);

    TParams& Params() noexcept { return params_; }
    const TParams& Params() const noexcept { return params_; }

    // The query-level prepared flag (set by opening, cleared by a text change).
    bool Prepared() const noexcept { return prepared_; }

protected:
    // Activation, query-level preparation, the parameter values, then the dataset's open.
    void InternalOpen() override;

private:
    void TextChanged();
    void Prepare();
    void UnPrepare();
    void BindParams();

    TSQLText sql_;
    TParams params_;
    std::string parsedText_;  // the text after the parameter scan; refused below 2 characters
    bool prepared_ = false;
};

}  // namespace ibclient
