// TIBQuery: the text and its parameter scan, the query-level preparation, the parameter
// values, and closing and unpreparing on text changes and destruction.
#include "ibclient/IBQuery.h"

#include "ibclient/Errors.h"

namespace ibclient {

namespace {

bool IsQuote(char c) noexcept {
    return c == '\'' || c == '"' || c == '`';
}

bool EndsParamName(char c) noexcept {
    return c == '\n' || c == '\r' || c == ' ' || c == ')' || c == ',' || c == ';';
}

}  // namespace

// ---- TParams ----

TParam& TParams::operator[](int index) {
    if (index < 0 || index >= Count())
        RaiseListIndexError(index);
    return params_[static_cast<std::size_t>(index)];
}

const TParam& TParams::operator[](int index) const {
    if (index < 0 || index >= Count())
        RaiseListIndexError(index);
    return params_[static_cast<std::size_t>(index)];
}

TParam& TParams::Add(std::string name) {
    params_.push_back(TParam{std::move(name), {}});
    return params_.back();
}

TParam* TParams::FindParam(std::string_view name) noexcept {
    for (TParam& param : params_) {
        if (SameName(param.Name, name))
            return &param;
    }
    return nullptr;
}

TParsedSQL ScanParamMarkers(std::string_view sql) {
    TParsedSQL result;
    result.Text.reserve(sql.size());
    bool literal = false;
    std::size_t i = 0;
    while (i < sql.size()) {
        const char c = sql[i];
        if (IsQuote(c)) {
            literal = !literal;
            result.Text += c;
            ++i;
        } else if (c == ':' && !literal && i + 1 < sql.size() && sql[i + 1] == ':') {
            result.Text += ':';
            i += 2;
        } else if (c == ':' && !literal) {
            std::size_t end = i + 1;
            for (; end < sql.size(); ++end) {
                const char n = sql[end];
                if (IsQuote(n)) {
                    literal = !literal;
                } else if (!literal && EndsParamName(n)) {
                    break;
                }
            }
            std::string name(sql.substr(i + 1, end - i - 1));
            if (!name.empty() && IsQuote(name.front())) {
                name.erase(0, 1);
                const std::size_t last = name.find_last_of("'\"`");
                if (last != std::string::npos)
                    name.erase(last, 1);
            }
            result.Text += '?';
            result.Names.push_back(std::move(name));
            i = end;
        } else {
            result.Text += c;
            ++i;
        }
    }
    return result;
}

// ---- TIBQuery ----

TIBQuery::TIBQuery() : sql_([] {}) {
    SetParamCheck(true);
}

TIBQuery::~TIBQuery() {
    try {
        Close();
        UnPrepare();
    } catch (...) {
        // Destruction goes on; the dataset part releases the rest.
    }
}

void TIBQuery::SetSQLText(std::string_view text) {
    sql_.SetText(text);
    TextChanged();
}

void TIBQuery::SetSQL(const std::vector<std::string>& lines) {
    if (JoinLines(lines) == sql_.Text())
        return;
    sql_.Assign(lines);
    TextChanged();
}

void TIBQuery::TextChanged() {
    Close();
    UnPrepare();
    const std::string text = sql_.Text();
    if (ParamCheck()) {
        TParsedSQL parsed = ScanParamMarkers(text);
        TParams scanned;
        for (std::string& name : parsed.Names) {
            TParam& param = scanned.Add(std::move(name));
            if (const TParam* old = params_.FindParam(param.Name))
                param.Value = old->Value;
        }
        params_ = std::move(scanned);
        parsedText_ = std::move(parsed.Text);
    } else {
        parsedText_ = text;
    }
    // The select statement's text change unprepares the dataset and drops the server statement.
    SelectStatement().SQL().Assign(sql_.Lines());
}

void TIBQuery::Prepare() {
    RequireClosed();
    if (prepared_)
        return;
    if (parsedText_.size() < 2)
        RaiseClientError(ceEmptySQLStatement);
    InternalPrepare();
    prepared_ = true;
}

void TIBQuery::UnPrepare() {
    RequireClosed();
    if (!prepared_)
        return;
    InternalUnPrepare();
    prepared_ = false;
}

void TIBQuery::BindParams() {
    if (params_.Count() == 0)
        return;
    TIBXSQLDA& area = SelectStatement().Parameters();
    for (int i = 0; i < params_.Count(); ++i) {
        // Client error 26 when the statement's own scan found fewer markers (one in a comment).
        TIBXSQLVAR& item = area.ItemAt(i);
        const TParam& param = params_[i];
        if (param.IsNull()) {
            item.SetNull(true);
        } else {
            item.SetVariant(param.Value);
        }
    }
}

void TIBQuery::InternalOpen() {
    ActivateConnection();
    ActivateTransaction();
    Prepare();
    BindParams();
    DataSetOpen();
}

}  // namespace ibclient
