// The whole error text of a statement whose error the status vector cut short. The client
// library's classic API hands its caller at most 20 status entries however long the vector
// it is given, and the error of a procedure, trigger or function that does not compile needs
// more: "unsuccessful metadata update" and "CREATE PROCEDURE P failed" come first, and the
// place in the body ("At line 9, column 57") comes last and is lost. Firebird's object
// interface has no such limit.
#pragma once

#include <optional>
#include <string>

namespace ibclient {

class TIBDatabase;

// Runs `text` once more on an attachment of its own to `database` (its name and connection
// parameters), through Firebird's object interface, in a transaction that does not wait for
// locks and is rolled back, and returns the error's whole text as RaiseStatusError composes
// it (without the options' SQL code). nullopt when the library has no object interface, the
// attachment or the transaction fails, or the text runs without error. Never raises.
// Meant for definitions that failed to compile: running them changes nothing that the
// rollback does not undo.
std::optional<std::string> FullErrorText(const TIBDatabase& database, const std::string& text,
                                         unsigned short dialect) noexcept;

}  // namespace ibclient
