// A fixture for statement and descriptor tests: a fresh embedded database of a chosen dialect
// made from DDL, connected with the runner's parameters, and an active transaction.
#pragma once

#include "ibclient/Errors.h"
#include "ibclient/IBDatabase.h"
#include "ibclient/IBSQL.h"
#include "ibclient/IBTransaction.h"
#include "platform/FormatSettings.h"
#include "tests/ibclient/ConnectionFixture.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace testsupport {

class StatementTest : public ::testing::Test {
  protected:
      void SetUp() override { platform::SetFormatSettings(platform::TFormatSettings{}); }

      // Creates the database with `ddl` (statements ending in ";"), connects and starts tr_.
      void OpenDatabase(int dialect, const std::string& ddl) {
          path_ = dir_.File("t.fdb");
          CreateDatabase(path_, dialect, ddl);
          SetUpLikeRunner(db_, path_, dialect);
          tr_.SetDefaultDatabase(&db_);
          db_.Open();
          tr_.Start();
    }

    // A statement bound like the runner's (transaction only), with `text` and ParamCheck.
    std::unique_ptr<ibclient::TIBSQL> Statement(const std::string& text, bool paramCheck = false) {
        auto sql = std::make_unique<ibclient::TIBSQL>();
        sql->SetTransaction(&tr_);
        sql->SetParamCheck(paramCheck);
        sql->SQL().SetText(text);
        return sql;
    }

    // Runs a statement and commits, starting the next transaction.
    void Exec(const std::string& text) {
        Statement(text)->RunStatement();
        tr_.Commit();
        tr_.Start();
    }

    TempDir dir_;
    std::string path_;
    ibclient::TIBDatabase db_;
    ibclient::TIBTransaction tr_;
};

} // namespace testsupport
