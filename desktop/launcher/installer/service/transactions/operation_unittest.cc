#include "desktop/launcher/installer/service/transactions/operation.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace zorvi::installer {
namespace {

// Records every call in a shared journal: "do a", "rollback a", "commit a".
class JournalOperation : public Operation {
 public:
  JournalOperation(std::vector<std::string>* journal,
                   std::string name,
                   bool succeeds,
                   std::vector<std::unique_ptr<Operation>> subs = {})
      : journal_(journal), name_(std::move(name)), succeeds_(succeeds), subs_(std::move(subs)) {}
  ~JournalOperation() override { journal_->push_back("commit " + name_); }

  bool Do(OperationList* sub_operations) override {
    journal_->push_back("do " + name_);
    for (auto& sub : subs_) {
      if (!ExecuteOperation(sub_operations, std::move(sub)))
        return false;
    }
    return succeeds_;
  }
  void Rollback() override { journal_->push_back("rollback " + name_); }

 private:
  std::vector<std::string>* journal_;
  std::string name_;
  bool succeeds_;
  std::vector<std::unique_ptr<Operation>> subs_;
};

std::vector<std::unique_ptr<Operation>> Subs(std::vector<std::string>* journal,
                                             std::vector<std::string> names,
                                             bool last_succeeds = true) {
  std::vector<std::unique_ptr<Operation>> subs;
  for (size_t i = 0; i < names.size(); ++i)
    subs.push_back(std::make_unique<JournalOperation>(journal, names[i], i + 1 < names.size() || last_succeeds));
  return subs;
}

// A failed operation is rolled back before its sub-operations (last to first), is deleted at once and never
// enters the transaction; successful ones join it behind their sub-operations.
TEST(OperationTest, TransactionOrderOfDoRollbackAndCommit) {
  std::vector<std::string> journal;
  OperationList transaction;
  ASSERT_TRUE(ExecuteOperation(&transaction,
                               std::make_unique<JournalOperation>(&journal, "a", true, Subs(&journal, {"a1", "a2"}))));
  EXPECT_FALSE(ExecuteOperation(
      &transaction, std::make_unique<JournalOperation>(&journal, "b", false, Subs(&journal, {"b1", "b2"}))));
  // A sub-operation that fails stops its parent, which then undoes itself and the sub-operations that succeeded.
  EXPECT_FALSE(ExecuteOperation(
      &transaction, std::make_unique<JournalOperation>(&journal, "c", true, Subs(&journal, {"c1", "c2"}, false))));
  EXPECT_EQ(3u, transaction.size());
  EXPECT_EQ((std::vector<std::string>{
                "do a",        "do a1",       "do a2",     "do b",       "do b1",       "do b2",     "rollback b",
                "rollback b2", "rollback b1", "commit b1", "commit b2",  "commit b",    "do c",      "do c1",
                "do c2",       "rollback c2", "commit c2", "rollback c", "rollback c1", "commit c1", "commit c"}),
            journal);

  journal.clear();
  OperationList copy_for_commit;
  ASSERT_TRUE(ExecuteOperation(&copy_for_commit, std::make_unique<JournalOperation>(&journal, "d", true)));
  RollbackOperations(&transaction);
  EXPECT_TRUE(transaction.empty());
  DeleteOperations(&copy_for_commit);
  EXPECT_TRUE(copy_for_commit.empty());
  EXPECT_EQ(0u, copy_for_commit.capacity());
  EXPECT_EQ((std::vector<std::string>{"do d", "rollback a", "rollback a2", "rollback a1", "commit a1", "commit a2",
                                      "commit a", "commit d"}),
            journal);
}

}  // namespace
}  // namespace zorvi::installer
