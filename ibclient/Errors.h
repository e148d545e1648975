// The exception family of the client-access layer, the per-thread status vector and the
// numbered client errors that the layer raises itself.
#pragma once

#include "platform/Errors.h"

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>

namespace ibclient {

// Every error the runner and its components raise derives from the common base.
using Exception = platform::Exception;

class EDatabaseError : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EDatabaseError"; }
};

class EIBError : public EDatabaseError {
public:
    EIBError(int32_t sqlErrorCode, std::string message)
        : EDatabaseError(std::move(message)), sqlErrorCode_(sqlErrorCode) {}
    EIBError(int32_t sqlErrorCode, int32_t statusCode, std::string message)
        : EDatabaseError(std::move(message)), sqlErrorCode_(sqlErrorCode), statusCode_(statusCode) {}
    int32_t SQLErrorCode() const noexcept { return sqlErrorCode_; }
    int32_t StatusCode() const noexcept { return statusCode_; }
    const char* ClassName() const noexcept override { return "EIBError"; }

private:
    int32_t sqlErrorCode_ = 0;
    int32_t statusCode_ = 0;
};

class EIBInterBaseError : public EIBError {
public:
    using EIBError::EIBError;
    const char* ClassName() const noexcept override { return "EIBInterBaseError"; }
};

// Server errors of the kinds that callers act on, each an EIBInterBaseError so that every
// handler of server errors still catches them. RaiseStatusError picks the class from the
// status vector (ServerFailureOf).

// The server cannot be reached, or the connection to it broke: a network error, a server that
// refuses connections while it starts, an attachment that the server shut down or that another
// connection deleted.
class EIBConnectionLost : public EIBInterBaseError {
public:
    using EIBInterBaseError::EIBInterBaseError;
    const char* ClassName() const noexcept override { return "EIBConnectionLost"; }
};

// A commit whose answer was lost with the connection: the server may have committed or not,
// and the client cannot tell which.
class EIBCommitInDoubt : public EIBConnectionLost {
public:
    using EIBConnectionLost::EIBConnectionLost;
    const char* ClassName() const noexcept override { return "EIBCommitInDoubt"; }
};

// Another transaction holds what the statement needs: a lock conflict, an update conflict, a
// deadlock or a lock time-out.
class EIBLockConflict : public EIBInterBaseError {
public:
    using EIBInterBaseError::EIBInterBaseError;
    const char* ClassName() const noexcept override { return "EIBLockConflict"; }
};

// An object that a metadata change needs for itself is in use by other work.
class EIBObjectInUse : public EIBInterBaseError {
public:
    using EIBInterBaseError::EIBInterBaseError;
    const char* ClassName() const noexcept override { return "EIBObjectInUse"; }
};

class EIBInterBaseRoleError : public EIBError {
public:
    using EIBError::EIBError;
    const char* ClassName() const noexcept override { return "EIBInterBaseRoleError"; }
};

class EIBClientError : public EIBError {
public:
    using EIBError::EIBError;
    const char* ClassName() const noexcept override { return "EIBClientError"; }
};

// An operating-system failure (a missing entry point of the client library).
class EOSError : public Exception {
public:
    EOSError(int32_t errorCode, std::string message)
        : Exception(std::move(message)), errorCode_(errorCode) {}
    int32_t ErrorCode() const noexcept { return errorCode_; }
    const char* ClassName() const noexcept override { return "EOSError"; }

private:
    int32_t errorCode_ = 0;
};

// The runtime's conversion errors (text to number, invalid timestamps).
class EConvertError : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EConvertError"; }
};

// The runtime's list errors ("List index out of bounds (%d)").
class EListError : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EListError"; }
};

// Numbers of the client errors the layer raises; the texts live in Errors.cpp.
enum ClientError : int {
    ceUnknownError = 0,
    ceLibraryNotFound = 1,
    ceIB60Feature = 3,
    ceNotSupported = 4,
    ceNotPermitted = 5,
    ceOperationCancelled = 10,
    ceDPBConstantNotSupported = 11,
    ceTPBConstantNotSupported = 13,
    ceDatabaseClosed = 15,
    ceDatabaseOpen = 16,
    ceDatabaseNameMissing = 17,
    ceNotInTransaction = 18,
    ceInTransaction = 19,
    ceTimeoutNegative = 20,
    ceNoDatabasesInTransaction = 21,
    ceDatabaseNotAssigned = 24,
    ceTransactionNotAssigned = 25,
    ceXSQLDAIndexOutOfRange = 26,
    ceInvalidStatementHandle = 30,
    ceSQLOpen = 31,
    ceSQLClosed = 32,
    ceDatasetOpen = 33,
    ceUnknownSQLDataType = 35,
    ceInvalidDataConversion = 38,
    ceBlobCannotBeRead = 40,
    ceBlobCannotBeWritten = 41,
    ceEmptyQuery = 42,
    ceFieldNotFound = 46,
    ceNotEditing = 47,
    ceSQLParseError = 55,
    ceEmptySQLStatement = 65,
    ceIsASelectStatement = 66,
    ceRequiredParamNotSet = 67,
    ceInvalidSQLDialect = 87,
    ceDPBConstantUnknown = 114,
    ceTPBConstantUnknown = 115,
    ceCannotGetPlan = 116,
    ceFieldSizeMismatch = 117,
    ceStringTooLarge = 119,
    // Beyond the classic table: values the parameter buffers cannot carry, and reading a
    // query that has no rows to read; refused before any client call.
    ceDPBValueTooLong = 120,
    ceDPBValueMissing = 121,
    ceTPBValueMissing = 122,
    ceTPBValueTooLong = 123,
    ceParamBufferTooLong = 124,
    ceNotASelectQuery = 125,
    ceNulInSQLText = 126,
};

// The client error table's text for a number (the unformatted template); empty for a
// number the table does not carry.
const char* ClientErrorText(int number);

// Formats the text of `number` (each "%s" or "%d" takes the next argument in order) and
// raises EIBClientError with SQLErrorCode = number and StatusCode = 0.
[[noreturn]] void RaiseClientError(int number, std::initializer_list<std::string> args = {});

// One status entry; the same width as ISC_STATUS of the client library's header.
using StatusEntry = intptr_t;

// The calling thread's status vector (ISC_STATUS_ARRAY), passed to every client call.
StatusEntry* StatusVector();

// The kinds of server failure that the layer tells apart.
enum class TServerFailure { Other, ConnectionLost, ObjectInUse, LockConflict };

// The kind of failure that `vector` (a status vector in the published layout) reports: any of
// its status codes counts, not only the first, since the client library puts the general
// code first (a network error, a failed metadata update) and the particular one after it. A
// lost connection outranks everything else, an object in use a lock conflict.
TServerFailure ServerFailureOf(const StatusEntry* vector) noexcept;

// The client call whose failure is raised, where it changes what the failure means.
enum class TClientCall { Other, Commit };

// Composes the message of the calling thread's status vector and raises the exception of its
// kind: EIBConnectionLost (EIBCommitInDoubt when `call` is a commit: its answer is lost, not
// the work), EIBObjectInUse, EIBLockConflict, else EIBInterBaseError; EIBInterBaseRoleError
// for SQL code -551 (no permission).
[[noreturn]] void RaiseStatusError(TClientCall call = TClientCall::Other);

// The texts that the client library derives from the status vector `vector` (of any length,
// ended by its end marker), one line each, joined by CR LF: the status text part of
// RaiseStatusError's message.
std::string StatusTexts(const StatusEntry* vector);

// The check applied to every client call's result: raises through RaiseStatusError when
// `raiseOnError` is set and the result is greater than 0; returns the result.
StatusEntry CheckStatus(StatusEntry result, bool raiseOnError);

// True when the calling thread's status vector carries one of the given status codes.
bool StatusVectorContains(std::initializer_list<StatusEntry> codes);

// Process-wide message options, read under a lock.
enum ErrorMessageOption : unsigned {
    WithSQLCode = 1,
    WithStatusText = 2,
    WithSQLText = 4,
};
unsigned GetErrorMessageOptions();
void SetErrorMessageOptions(unsigned options);

}  // namespace ibclient
