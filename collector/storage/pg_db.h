// One PostgreSQL connection (libpqxx) with its prepared statements and the
// transaction in progress, if any.
#pragma once
#include <memory>
#include <string>
#include <unordered_map>

#include <pqxx/pqxx>

#include "collector/storage/sql.h"

namespace collector {

class PgDb {
public:
    explicit PgDb(const std::string& uri);
    void Exec(const std::string& script);
    SqlRows Query(const std::string& sql, const SqlParams& params = {});
    void Begin();
    void BeginRead();
    void Commit();
    void Rollback();
    bool Broken() const { return broken_; }
    // The open transaction, for COPY.
    pqxx::work& Work();

private:
    template <class Body> auto Run(Body body);
    const std::string& Prepared(const std::string& sql);

    pqxx::connection connection_;
    std::unique_ptr<pqxx::work> work_;
    std::unordered_map<std::string, std::string> prepared_;
    bool broken_ = false;
};

}  // namespace collector
