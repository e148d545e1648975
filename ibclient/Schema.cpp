// TSchema: loads, per table, the columns that are computed or carry a default value from
// RDB$RELATION_FIELDS and RDB$FIELDS, and answers from the cache afterwards.
#include "ibclient/Schema.h"

#include "ibclient/IBDatabase.h"
#include "ibclient/IBSQL.h"
#include "ibclient/IBTransaction.h"

#include <algorithm>
#include <cctype>

namespace ibclient {

namespace {

// A column's own default (DEFAULT in its definition) is kept in RDB$RELATION_FIELDS, a
// domain's in RDB$FIELDS; either counts as a default value.
constexpr const char* kSchemaQuery =
    "Select F.RDB$COMPUTED_BLR, F.RDB$DEFAULT_VALUE, R.RDB$FIELD_NAME, R.RDB$DEFAULT_VALUE "
    "from RDB$RELATION_FIELDS R, RDB$FIELDS F where R.RDB$RELATION_NAME = :RELATION and "
    "R.RDB$FIELD_SOURCE = F.RDB$FIELD_NAME and ((not F.RDB$COMPUTED_BLR is NULL) or "
    "(not F.RDB$DEFAULT_VALUE is NULL) or (not R.RDB$DEFAULT_VALUE is NULL))";

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

} // namespace

TSchema::TSchema(TIBDatabase& database) : database_(database) {}

TSchema::~TSchema() = default;

void TSchema::ClearSchemaCache() noexcept {
    relations_.clear();
}

TSchema::Relation& TSchema::Load(std::string_view relation) {
    if (!query_) {
        // The lookup statement joins the database's object list only once it is needed.
        query_ = std::make_unique<TIBSQL>();
        query_->SetTransaction(database_.SchemaTransaction());
        query_->SetDatabase(&database_);
        query_->SQL().SetText(kSchemaQuery);
    }
    relations_.push_back(Relation{std::string(relation), {}});
    TIBTransaction& transaction = *database_.SchemaTransaction();
    const bool startedHere = !transaction.Active();
    try {
        if (startedHere)
            transaction.Start();
        query_->Parameters().ItemAt(0).SetText(relation);
        query_->RunStatement();
        while (!query_->AtEnd()) {
            TIBXSQLDA& row = query_->CurrentRow();
            relations_.back().Fields.push_back(
                TFieldNode{row.ItemAt(2).GetTrimmedText(), !row.ItemAt(0).ValueIsNull(),
                           !row.ItemAt(1).ValueIsNull() || !row.ItemAt(3).ValueIsNull()});
            query_->FetchNext();
        }
        query_->CloseCursor();
        if (startedHere)
            transaction.Commit();
    } catch (...) {
        // A table whose columns could not all be read is not cached: caching the partial list
        // would answer every later question about it from an incomplete list.
        relations_.pop_back();
        try {
            query_->CloseCursor();
        } catch (...) { // NOLINT(bugprone-empty-catch): the load's error goes on
        }
        throw;
    }
    return relations_.back();
}

const TFieldNode* TSchema::Find(std::string_view relation, std::string_view field) {
    auto cached = std::find_if(relations_.begin(), relations_.end(),
                               [&](const Relation& r) { return SameText(r.Name, relation); });
    Relation& entry = cached != relations_.end() ? *cached : Load(relation);
    // Fields are matched the same way whether the table was just loaded or cached earlier.
    for (const TFieldNode& node : entry.Fields) {
        if (SameText(node.FieldName, field))
            return &node;
    }
    return nullptr;
}

bool TSchema::IsComputedField(std::string_view relation, std::string_view field) {
    const TFieldNode* node = Find(relation, field);
    return node != nullptr && node->Computed;
}

bool TSchema::HasDefaultValue(std::string_view relation, std::string_view field) {
    const TFieldNode* node = Find(relation, field);
    return node != nullptr && node->HasDefault;
}

} // namespace ibclient
