// TSchema: a database's cache of which table columns are computed or have a default value,
// filled one table at a time from the system tables through the database's own schema
// transaction. The field definitions ask it while they mark columns read-only.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ibclient {

class TIBDatabase;
class TIBSQL;

// What the cache knows of one column.
struct TFieldNode {
    std::string FieldName;
    bool Computed = false;
    bool HasDefault = false;
};

class TSchema {
  public:
    // The lookup statement is created on `database`, bound to its SchemaTransaction, when
    // the first table is loaded.
    explicit TSchema(TIBDatabase& database);
    ~TSchema();
    TSchema(const TSchema&) = delete;
    TSchema& operator=(const TSchema&) = delete;

    // True when the column has a computed source / a default value; false for a column the
    // cache does not list. The first question about a table loads it (the database must be
    // connected); later questions about it run no query. Names compare case-insensitively.
    bool IsComputedField(std::string_view relation, std::string_view field);
    bool HasDefaultValue(std::string_view relation, std::string_view field);

    // Drops every cached table.
    void ClearSchemaCache() noexcept;

    // Number of tables cached (loaded ones, with or without listed columns).
    std::size_t CachedRelationCount() const noexcept { return relations_.size(); }

  private:
    struct Relation {
        std::string Name;
        std::vector<TFieldNode> Fields;
    };

    const TFieldNode* Find(std::string_view relation, std::string_view field);
    Relation& Load(std::string_view relation);

    TIBDatabase& database_;
    std::unique_ptr<TIBSQL> query_;
    std::vector<Relation> relations_;
};

} // namespace ibclient
