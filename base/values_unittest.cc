#include "base/values.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace base {
namespace {

// A null node that records its deletion, to see who deletes what.
class TrackedValue : public Value {
 public:
  explicit TrackedValue(int* deletions) : Value(kTypeNull), deletions_(deletions) {}
  ~TrackedValue() override { ++*deletions_; }

 private:
  int* deletions_;
};

TEST(ValuesTest, ScalarKindsAnswerOnlyTheirOwnGetters) {
  ScalarValue boolean(true), integer(1), real(1.0);
  EXPECT_EQ(Value::kTypeBoolean, boolean.GetType());
  EXPECT_EQ(Value::kTypeInteger, integer.GetType());
  EXPECT_EQ(Value::kTypeDouble, real.GetType());

  int i = -7;
  bool b = false;
  double d = -7;
  EXPECT_FALSE(boolean.GetAsInteger(&i));
  EXPECT_FALSE(boolean.GetAsDouble(&d));
  EXPECT_FALSE(real.GetAsInteger(&i));
  EXPECT_FALSE(integer.GetAsBoolean(&b));
  EXPECT_EQ(-7, i);
  EXPECT_EQ(-7, d);
  EXPECT_FALSE(b);
  EXPECT_TRUE(boolean.GetAsBoolean(&b));
  EXPECT_TRUE(b);
  // An integer converts to a double, never the other way.
  EXPECT_TRUE(integer.GetAsDouble(&d));
  EXPECT_EQ(1.0, d);
  // The answer is given without an output too.
  EXPECT_TRUE(integer.GetAsInteger(nullptr));
  EXPECT_TRUE(real.GetAsDouble(nullptr));
  EXPECT_FALSE(real.GetAsBinary(nullptr));
  std::vector<char> binary;
  EXPECT_FALSE(StringValue("x").GetAsBinary(&binary));
}

TEST(ValuesTest, IntegerNeverEqualsDouble) {
  ScalarValue integer(1), real(1.0);
  EXPECT_FALSE(integer.Equals(&real));
  EXPECT_FALSE(real.Equals(&integer));
  EXPECT_TRUE(integer.Equals(std::make_unique<ScalarValue>(1).get()));
  EXPECT_FALSE(integer.Equals(std::make_unique<ScalarValue>(true).get()));
  EXPECT_FALSE(integer.Equals(nullptr));
  std::unique_ptr<Value> null = Value::CreateNullValue();
  EXPECT_TRUE(null->Equals(Value::CreateNullValue().get()));
  EXPECT_FALSE(null->Equals(&integer));
  EXPECT_FALSE(integer.Equals(null.get()));
}

TEST(ValuesTest, NonFiniteDoublesAreStoredAsZero) {
  const double inputs[] = {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN()};
  for (double input : inputs) {
    double out = 5;
    EXPECT_TRUE(ScalarValue(input).GetAsDouble(&out));
    EXPECT_EQ(0.0, out);
    DictionaryValue dictionary;
    dictionary.SetDoubleWithoutPathExpansion("d", input);
    const Value* stored = nullptr;
    ASSERT_TRUE(dictionary.GetWithoutPathExpansion("d", &stored));
    out = 5;
    EXPECT_TRUE(stored->GetAsDouble(&out));
    EXPECT_EQ(0.0, out);
    ListValue list;
    list.AppendDouble(input);
    ASSERT_TRUE(list.Get(0, &stored));
    out = 5;
    EXPECT_TRUE(stored->GetAsDouble(&out));
    EXPECT_EQ(0.0, out);
  }
  // Doubles compare by IEEE equality: 0.0 equals -0.0.
  EXPECT_TRUE(ScalarValue(0.0).Equals(std::make_unique<ScalarValue>(-0.0).get()));
}

TEST(ValuesTest, StringsConvertBetweenEncodings) {
  StringValue from_wide(std::wstring(L"gr\u00fc\u00df \U0001F600"));
  EXPECT_EQ("gr\xc3\xbc\xc3\x9f \xf0\x9f\x98\x80", from_wide.GetString());
  std::wstring wide;
  EXPECT_TRUE(from_wide.GetAsString(&wide));
  EXPECT_EQ(L"gr\u00fc\u00df \U0001F600", wide);
  const StringValue* self = nullptr;
  EXPECT_TRUE(from_wide.GetAsString(&self));
  EXPECT_EQ(&from_wide, self);

  // Copying a string onto its own storage keeps it.
  StringValue value("keep me");
  EXPECT_TRUE(value.GetAsString(const_cast<std::string*>(&value.GetString())));
  EXPECT_EQ("keep me", value.GetString());

  ScalarValue not_a_string(3);
  std::string narrow = "untouched";
  EXPECT_FALSE(not_a_string.GetAsString(&narrow));
  EXPECT_FALSE(not_a_string.GetAsString(&wide));
  EXPECT_FALSE(not_a_string.GetAsString(&self));
  EXPECT_EQ("untouched", narrow);
}

TEST(ValuesTest, DottedLookupStopsAtNonDictionary) {
  DictionaryValue root;
  root.SetInteger("a.b", 5);
  int value = 0;
  EXPECT_TRUE(root.GetInteger("a.b", &value));
  EXPECT_EQ(5, value);
  // The integer itself is found, but a path through it is not.
  const Value* found = nullptr;
  EXPECT_FALSE(root.Get("a.b.c", &found));
  EXPECT_EQ(nullptr, found);
  EXPECT_FALSE(root.Get("a.x", &found));
  EXPECT_FALSE(root.Get("x.b", &found));
  // A literal key with a dot is only found without path expansion.
  root.SetIntegerWithoutPathExpansion("a.b", 6);
  EXPECT_TRUE(root.GetInteger("a.b", &value));
  EXPECT_EQ(5, value);
  ASSERT_TRUE(root.GetWithoutPathExpansion("a.b", &found));
  EXPECT_TRUE(found->GetAsInteger(&value));
  EXPECT_EQ(6, value);
}

TEST(ValuesTest, EmptyPathPartsAreOrdinaryKeys) {
  DictionaryValue root;
  root.SetString("a..b", "x");
  const Value* middle = nullptr;
  ASSERT_TRUE(root.Get("a.", &middle));
  EXPECT_TRUE(middle->IsType(Value::kTypeDictionary));
  std::string text;
  EXPECT_TRUE(root.GetString("a..b", &text));
  EXPECT_EQ("x", text);
  root.SetInteger(".", 1);  // the empty key, inside the dictionary under the empty key
  const Value* empty_key = nullptr;
  ASSERT_TRUE(root.GetWithoutPathExpansion("", &empty_key));
  const DictionaryValue* inner = nullptr;
  ASSERT_TRUE(empty_key->GetAsDictionary(&inner));
  EXPECT_TRUE(inner->HasKey(""));
}

TEST(ValuesTest, DottedStoreReplacesNonDictionaryOnThePath) {
  DictionaryValue root;
  int deletions = 0;
  root.SetWithoutPathExpansion("a", new TrackedValue(&deletions));
  root.SetInteger("a.b", 3);
  EXPECT_EQ(1, deletions);  // the node in the way was deleted
  const Value* a = nullptr;
  ASSERT_TRUE(root.Get("a", &a));
  EXPECT_TRUE(a->IsType(Value::kTypeDictionary));
  int value = 0;
  EXPECT_TRUE(root.GetInteger("a.b", &value));
  EXPECT_EQ(3, value);
  // An existing dictionary on the path is kept with its other members.
  root.SetString("a.c", "s");
  EXPECT_TRUE(root.GetInteger("a.b", &value));
  // Replacing a member deletes the old node.
  root.SetWithoutPathExpansion("t", new TrackedValue(&deletions));
  root.Set("t", new ScalarValue(true));
  EXPECT_EQ(2, deletions);
}

TEST(ValuesTest, TypedGettersFollowPaths) {
  DictionaryValue root;
  root.SetString("s.ascii", "plain");
  root.SetString("s.utf8", "caf\xc3\xa9");
  root.SetString("s.wide", std::wstring(L"\u65e5\u672c"));
  root.Set("l", new ListValue);
  root.Set("b", new ScalarValue(false));

  std::string text = "untouched";
  EXPECT_TRUE(root.GetStringASCII("s.ascii", &text));
  EXPECT_EQ("plain", text);
  text = "untouched";
  EXPECT_FALSE(root.GetStringASCII("s.utf8", &text));
  EXPECT_EQ("untouched", text);
  std::wstring wide;
  EXPECT_TRUE(root.GetString("s.utf8", &wide));
  EXPECT_EQ(L"caf\u00e9", wide);
  EXPECT_TRUE(root.GetString("s.wide", &text));
  EXPECT_EQ("\xe6\x97\xa5\xe6\x9c\xac", text);

  const ListValue* list = nullptr;
  EXPECT_TRUE(root.GetList("l", &list));
  EXPECT_FALSE(root.GetList("s", &list));
  bool flag = true;
  EXPECT_TRUE(root.GetBoolean("b", &flag));
  EXPECT_FALSE(flag);
  int number = 9;
  EXPECT_FALSE(root.GetInteger("b", &number));
  EXPECT_EQ(9, number);
}

TEST(ValuesTest, RemovePathPrunesEmptiedParents) {
  DictionaryValue with_remove_path;
  with_remove_path.SetInteger("a.b", 1);
  EXPECT_TRUE(with_remove_path.RemovePath("a.b", nullptr));
  EXPECT_TRUE(with_remove_path.empty());

  DictionaryValue with_remove;
  with_remove.SetInteger("a.b", 1);
  EXPECT_TRUE(with_remove.Remove("a.b", nullptr));
  const DictionaryValue* parent = nullptr;
  const Value* a = nullptr;
  ASSERT_TRUE(with_remove.Get("a", &a));
  ASSERT_TRUE(a->GetAsDictionary(&parent));
  EXPECT_TRUE(parent->empty());

  // A parent with other members survives; a deeper chain prunes only what became empty.
  DictionaryValue deep;
  deep.SetInteger("x.y.z", 1);
  deep.SetInteger("x.keep", 2);
  EXPECT_TRUE(deep.RemovePath("x.y.z", nullptr));
  EXPECT_FALSE(deep.Get("x.y", nullptr));
  EXPECT_TRUE(deep.Get("x.keep", nullptr));

  // Failures change nothing.
  EXPECT_FALSE(deep.RemovePath("x.keep.z", nullptr));
  EXPECT_FALSE(deep.RemovePath("missing.z", nullptr));
  EXPECT_FALSE(deep.Remove("x.keep.z", nullptr));
  EXPECT_FALSE(deep.Remove("missing", nullptr));
  EXPECT_TRUE(deep.Get("x.keep", nullptr));
}

TEST(ValuesTest, RemovalHandsOverOrDeletes) {
  int deletions = 0;
  DictionaryValue root;
  root.Set("a.b", new TrackedValue(&deletions));
  root.Set("c", new TrackedValue(&deletions));

  std::unique_ptr<Value> holder(new TrackedValue(&deletions));
  EXPECT_TRUE(root.Remove("a.b", &holder));
  EXPECT_EQ(1, deletions);  // the holder's previous content
  EXPECT_TRUE(holder->IsType(Value::kTypeNull));
  holder.reset();
  EXPECT_EQ(2, deletions);

  EXPECT_TRUE(root.RemoveWithoutPathExpansion("c", nullptr));
  EXPECT_EQ(3, deletions);
  EXPECT_FALSE(root.RemoveWithoutPathExpansion("c", &holder));
  EXPECT_EQ(nullptr, holder);
}

TEST(ValuesTest, ListSetPadsWithNulls) {
  ListValue list;
  EXPECT_FALSE(list.Set(0, nullptr));
  EXPECT_EQ(0u, list.GetSize());
  ASSERT_TRUE(list.Set(3, new ScalarValue(7)));
  ASSERT_EQ(4u, list.GetSize());
  for (size_t i = 0; i < 3; ++i) {
    const Value* element = nullptr;
    ASSERT_TRUE(list.Get(i, &element));
    EXPECT_TRUE(element->IsType(Value::kTypeNull));
  }
  int value = 0;
  const Value* last = nullptr;
  ASSERT_TRUE(list.Get(3, &last));
  EXPECT_TRUE(last->GetAsInteger(&value));
  EXPECT_EQ(7, value);

  int deletions = 0;
  ASSERT_TRUE(list.Set(1, new TrackedValue(&deletions)));
  ASSERT_TRUE(list.Set(1, new ScalarValue(false)));
  EXPECT_EQ(1, deletions);
  EXPECT_EQ(4u, list.GetSize());
  ASSERT_TRUE(list.Set(4, new ScalarValue(8)));  // exactly at the end: appended without padding
  EXPECT_EQ(5u, list.GetSize());
}

TEST(ValuesTest, ListRemoveShiftsLaterChildren) {
  ListValue list;
  for (int i = 0; i < 4; ++i)
    list.AppendInteger(i);
  std::unique_ptr<Value> removed;
  EXPECT_FALSE(list.Remove(4, &removed));
  EXPECT_EQ(nullptr, removed);
  EXPECT_TRUE(list.Remove(1, &removed));
  int value = -1;
  EXPECT_TRUE(removed->GetAsInteger(&value));
  EXPECT_EQ(1, value);
  ASSERT_EQ(3u, list.GetSize());
  std::vector<int> rest;
  for (const auto& child : list) {
    child->GetAsInteger(&value);
    rest.push_back(value);
  }
  EXPECT_EQ((std::vector<int>{0, 2, 3}), rest);

  auto holder = std::make_unique<ScalarValue>(9);
  list.Append(std::move(holder));
  EXPECT_EQ(nullptr, holder);
  EXPECT_EQ(4u, list.GetSize());
}

TEST(ValuesTest, DictionaryKeysIterateInByteOrder) {
  DictionaryValue root;
  // Inserted out of order; bytes above 0x7F sort after ASCII (the comparison is unsigned).
  const char* const keys[] = {"b", "\xc3\xa9", "ab", "B", "a", "", "a.b"};
  for (const char* key : keys)
    root.SetIntegerWithoutPathExpansion(key, 0);
  std::vector<std::string> order;
  for (DictionaryValue::Iterator it(root); !it.IsAtEnd(); it.Advance())
    order.push_back(it.key());
  std::vector<std::string> expected(std::begin(keys), std::end(keys));
  std::sort(expected.begin(), expected.end(), [](const std::string& x, const std::string& y) {
    // Reference order: lexicographic on unsigned bytes, a prefix first.
    return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end(), [](char p, char q) {
      return static_cast<unsigned char>(p) < static_cast<unsigned char>(q);
    });
  });
  EXPECT_EQ(expected, order);
  EXPECT_EQ("", order.front());
  EXPECT_EQ("\xc3\xa9", order.back());
}

// Many keys in random order, set, replaced and removed, against std::map as the reference of an ordered map.
TEST(ValuesTest, DictionaryMatchesAnOrderedMap) {
  std::mt19937 random(3101);
  DictionaryValue dictionary;
  std::map<std::string, int> reference;
  for (int step = 0; step < 20000; ++step) {
    std::string key(1 + random() % 3, 'a');
    for (char& c : key)
      c = static_cast<char>("aAb\xc3.z"[random() % 6]);
    const int value = static_cast<int>(random() % 1000);
    if (random() % 4 == 0) {
      EXPECT_EQ(reference.erase(key) == 1, dictionary.RemoveWithoutPathExpansion(key, nullptr)) << key;
    } else {
      reference[key] = value;
      dictionary.SetIntegerWithoutPathExpansion(key, value);
    }
  }
  ASSERT_EQ(reference.size(), dictionary.size());
  auto expected = reference.begin();
  for (DictionaryValue::Iterator it(dictionary); !it.IsAtEnd(); it.Advance(), ++expected) {
    ASSERT_EQ(expected->first, it.key());
    int value = -1;
    EXPECT_TRUE(it.value().GetAsInteger(&value));
    EXPECT_EQ(expected->second, value);
  }
}

DictionaryValue* MakeSampleTree() {
  auto* root = new DictionaryValue;
  root->SetInteger("n.i", 1);
  root->SetString("n.s", "text");
  root->Set("n.d", new ScalarValue(2.5));
  root->Set("b", new ScalarValue(true));
  root->Set("z", Value::CreateNullValue());
  auto* list = new ListValue;
  list->AppendString("x");
  list->Append(new DictionaryValue);
  list->Append(new ListValue);
  root->Set("l", list);
  return root;
}

TEST(ValuesTest, DeepCopyIsEqualAndIndependent) {
  std::unique_ptr<DictionaryValue> original(MakeSampleTree());
  std::unique_ptr<DictionaryValue> copy(original->DeepCopy());
  EXPECT_TRUE(original->Equals(copy.get()));
  EXPECT_TRUE(copy->Equals(original.get()));
  std::unique_ptr<Value> holder = original->CreateDeepCopy();
  EXPECT_TRUE(holder->Equals(original.get()));

  copy->SetInteger("n.i", 2);
  EXPECT_FALSE(original->Equals(copy.get()));
  int value = 0;
  EXPECT_TRUE(original->GetInteger("n.i", &value));
  EXPECT_EQ(1, value);

  // Each kind of difference breaks equality.
  std::unique_ptr<DictionaryValue> other(original->DeepCopy());
  ListValue* list = nullptr;
  ASSERT_TRUE(other->GetList("l", &list));
  list->AppendInteger(0);
  EXPECT_FALSE(original->Equals(other.get()));
  other.reset(original->DeepCopy());
  other->SetIntegerWithoutPathExpansion("extra", 0);
  EXPECT_FALSE(original->Equals(other.get()));
  EXPECT_FALSE(other->Equals(original.get()));
  other.reset(original->DeepCopy());
  other->SetString("n.s", "Text");
  EXPECT_FALSE(original->Equals(other.get()));
  EXPECT_FALSE(original->Equals(list));
}

TEST(ValuesTest, SwapAndClear) {
  std::unique_ptr<DictionaryValue> a(MakeSampleTree());
  DictionaryValue b;
  b.SetInteger("only", 1);
  std::unique_ptr<DictionaryValue> a_copy(a->DeepCopy());
  a->Swap(&b);
  EXPECT_TRUE(b.Equals(a_copy.get()));
  EXPECT_EQ(1u, a->size());
  a->Clear();
  EXPECT_TRUE(a->empty());

  ListValue x, y;
  x.AppendInteger(1);
  x.Swap(&y);
  EXPECT_TRUE(x.empty());
  EXPECT_EQ(1u, y.GetSize());
  y.Clear();
  EXPECT_TRUE(y.empty());
}

}  // namespace
}  // namespace base
