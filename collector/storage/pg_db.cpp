// PostgreSQL connection: statements prepared once per connection, parameters
// sent as text, a lost connection marked so that its pool drops it.
#include "collector/storage/pg_db.h"

#include <stdexcept>

namespace collector {

PgDb::PgDb(const std::string& uri) : connection_(uri) {
    // Notices such as "relation already exists, skipping" are expected.
    pqxx::nontransaction(connection_).exec("SET client_min_messages = error");
}

template <class Body> auto PgDb::Run(Body body) {
    try {
        if (work_) return body(static_cast<pqxx::transaction_base&>(*work_));
        pqxx::nontransaction once(connection_);
        return body(static_cast<pqxx::transaction_base&>(once));
    } catch (const pqxx::broken_connection&) {
        broken_ = true;
        throw;
    }
}

void PgDb::Exec(const std::string& script) {
    Run([&](pqxx::transaction_base& t) {
        t.exec(script);
        return 0;
    });
}

const std::string& PgDb::Prepared(const std::string& sql) {
    auto found = prepared_.find(sql);
    if (found != prepared_.end()) return found->second;
    std::string name = "s" + std::to_string(prepared_.size());
    connection_.prepare(name, NumberPlaceholders(sql));
    return prepared_.emplace(sql, name).first->second;
}

SqlRows PgDb::Query(const std::string& sql, const SqlParams& params) {
    std::vector<std::string> texts;
    texts.reserve(params.size());
    for (const SqlParam& param : params) {
        if (const auto* number = std::get_if<std::int64_t>(&param)) texts.push_back(std::to_string(*number));
        else texts.push_back(std::get<std::string>(param));
    }
    const std::string& name = Prepared(sql);
    pqxx::result result = Run([&](pqxx::transaction_base& t) {
        return t.exec_prepared(name, pqxx::prepare::make_dynamic_params(texts));
    });
    SqlRows rows;
    rows.reserve(result.size());
    for (const pqxx::row& r : result) {
        SqlRow& row = rows.emplace_back();
        row.fields.reserve(r.size());
        for (const pqxx::field& f : r) row.fields.emplace_back(f.is_null() ? std::string() : f.c_str());
    }
    return rows;
}

void PgDb::Begin() {
    try {
        work_ = std::make_unique<pqxx::work>(connection_);
    } catch (const pqxx::broken_connection&) {
        broken_ = true;
        throw;
    }
}

void PgDb::BeginRead() {
    Begin();
    Exec("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY");
}

void PgDb::Commit() {
    auto work = std::move(work_);
    try {
        work->commit();
    } catch (const pqxx::broken_connection&) {
        broken_ = true;
        throw;
    }
}

void PgDb::Rollback() {
    auto work = std::move(work_);
    if (work) work->abort();
}

pqxx::work& PgDb::Work() {
    if (!work_) throw std::logic_error("COPY outside a transaction");
    return *work_;
}

}  // namespace collector
