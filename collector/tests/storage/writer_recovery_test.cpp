// The writer's connection after a COMMIT that fails without ending its
// transaction (SQLite keeps it open after a deferred constraint or
// SQLITE_BUSY): the next transaction begins on the same connection.
#include <gtest/gtest.h>

#include "collector/storage/engine.h"
#include "collector/tests/support/collector_process.h"

namespace collector {
namespace {

TEST(WriterTransaction, BeginsAgainAfterACommitThatFailed) {
    testing::TempFolder folder;
    SqliteDb db((folder.path() / "store.sqlite").string());
    db.Exec("PRAGMA foreign_keys=ON; CREATE TABLE parent (id INTEGER PRIMARY KEY);"
            "CREATE TABLE child (parent INTEGER REFERENCES parent (id) DEFERRABLE INITIALLY DEFERRED);");
    {
        Transaction tx(db, true);
        db.Exec("INSERT INTO child VALUES (1)");  // checked only at COMMIT
        EXPECT_THROW(tx.Commit(), std::runtime_error);
    }
    Transaction next(db, true);
    db.Exec("INSERT INTO parent VALUES (1); INSERT INTO child VALUES (1)");
    next.Commit();
    EXPECT_EQ(db.Query("SELECT COUNT(*) FROM child")[0].Int(0), 1);
}

}  // namespace
}  // namespace collector
