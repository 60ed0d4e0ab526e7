#include "base/packed_buffer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "testing/test_support.h"

namespace base {
namespace {

std::vector<uint8_t> Bytes(const PackedBuffer& buffer) {
  const uint8_t* data = static_cast<const uint8_t*>(buffer.data());
  return std::vector<uint8_t>(data, data + buffer.size());
}

uint32_t HeaderValue(const PackedBuffer& buffer) {
  uint32_t value;
  memcpy(&value, buffer.data(), sizeof(value));
  return value;
}

TEST(PackedBufferTest, NewBufferHasEmptyHeaderAndInitialCapacity) {
  PackedBuffer buffer;
  EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 0}), Bytes(buffer));
  EXPECT_EQ(68u, buffer.GetTotalAllocatedSize());
  PackedBufferReader reader(buffer);
  int32_t value = 5;
  EXPECT_FALSE(reader.ReadInt(&value));
  EXPECT_EQ(5, value);
}

TEST(PackedBufferTest, FieldsArePaddedToFourBytes) {
  PackedBuffer buffer;
  EXPECT_TRUE(buffer.WriteInt(7));
  EXPECT_TRUE(buffer.WriteString("abc"));
  EXPECT_EQ((std::vector<uint8_t>{0x0C, 0, 0, 0, 7, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c', 0}), Bytes(buffer));

  EXPECT_TRUE(buffer.WriteString16(L"\u00e9"));
  EXPECT_TRUE(buffer.WriteBytes("xyzw!", 5));
  EXPECT_TRUE(buffer.WriteInt64(-2));
  const std::vector<uint8_t> expected = {
      0x24, 0,    0,    0,                                //
      7,    0,    0,    0,    3,    0,    0,    0,    'a', 'b', 'c', 0,  //
      1,    0,    0,    0,    0xE9, 0,    0,    0,        // one unit, padded
      'x',  'y',  'z',  'w',  '!',  0,    0,    0,        //
      0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(expected, Bytes(buffer));
}

TEST(PackedBufferTest, PaddingIsZeroEvenOverReusedStorage) {
  // Fill the storage with non-zero bytes, then make sure fresh padding is zeroed.
  PackedBuffer buffer;
  std::string ones(60, '\xff');
  buffer.WriteBytes(ones.data(), 60);
  PackedBuffer second;
  second.WriteBytes("a", 1);
  second.WriteBytes("bc", 2);
  EXPECT_EQ((std::vector<uint8_t>{8, 0, 0, 0, 'a', 0, 0, 0, 'b', 'c', 0, 0}), Bytes(second));
}

TEST(PackedBufferTest, CapacityGrowsByDoublingThenByPagesLessSixtyFour) {
  PackedBuffer buffer;
  buffer.WriteBytes(std::string(64, 'x').data(), 64);
  EXPECT_EQ(4u + 64, buffer.GetTotalAllocatedSize());
  buffer.WriteBytes("y", 1);  // the 65th payload byte
  EXPECT_EQ(4u + 128, buffer.GetTotalAllocatedSize());

  std::vector<size_t> capacities;
  PackedBuffer growing;
  size_t last = growing.GetTotalAllocatedSize();
  while (growing.payload_size() < 40000) {
    growing.WriteInt(1);
    if (growing.GetTotalAllocatedSize() != last) {
      last = growing.GetTotalAllocatedSize();
      capacities.push_back(last - 4);
    }
  }
  const std::vector<size_t> expected = {128, 256, 512, 1024, 2048, 4096, 8128, 16320, 32704, 65472};
  EXPECT_EQ(expected, capacities);
}

TEST(PackedBufferTest, LargeFieldTakesAtLeastItsSize) {
  PackedBuffer buffer;
  const std::string big(10001, 'q');
  buffer.WriteString(big);
  // 4 + 10004 payload bytes, rounded up to 64: more than doubling would give.
  EXPECT_EQ(4u + 10048, buffer.GetTotalAllocatedSize());
  PackedBufferReader reader(buffer);
  std::string read;
  ASSERT_TRUE(reader.ReadString(&read));
  EXPECT_EQ(big, read);
  EXPECT_EQ(0u, reader.remaining());
}

TEST(PackedBufferTest, RoundTripOfEveryFieldKind) {
  PackedBuffer buffer;
  buffer.WriteInt(INT_MIN);
  buffer.WriteInt64(INT64_MAX);
  buffer.WriteString("");
  buffer.WriteString(std::string("nul\0inside", 10));
  buffer.WriteString16(L"");
  buffer.WriteString16(L"wide \U0001F600");
  buffer.WriteInt(1);  // read back as a bool
  buffer.WriteBytes("raw", 3);

  PackedBufferReader reader(buffer);
  int32_t i32 = 0;
  int64_t i64 = 0;
  std::string s = "untouched";
  std::wstring w = L"untouched";
  bool b = false;
  const char* bytes = nullptr;
  ASSERT_TRUE(reader.ReadInt(&i32));
  EXPECT_EQ(INT_MIN, i32);
  ASSERT_TRUE(reader.ReadInt64(&i64));
  EXPECT_EQ(INT64_MAX, i64);
  ASSERT_TRUE(reader.ReadString(&s));
  EXPECT_EQ("", s);
  ASSERT_TRUE(reader.ReadString(&s));
  EXPECT_EQ(std::string("nul\0inside", 10), s);
  ASSERT_TRUE(reader.ReadString16(&w));
  EXPECT_EQ(L"", w);
  ASSERT_TRUE(reader.ReadString16(&w));
  EXPECT_EQ(L"wide \U0001F600", w);
  ASSERT_TRUE(reader.ReadBool(&b));
  EXPECT_TRUE(b);
  ASSERT_TRUE(reader.ReadBytes(&bytes, 3));
  EXPECT_EQ(0, memcmp(bytes, "raw", 3));
  // ReadBytes points into the payload instead of copying.
  EXPECT_GE(bytes, buffer.payload());
  EXPECT_LT(bytes, buffer.payload() + buffer.payload_size());
  EXPECT_EQ(0u, reader.remaining());
  EXPECT_FALSE(reader.ReadBool(&b));
}

TEST(PackedBufferTest, CopyOwnsItsBytes) {
  PackedBuffer original;
  original.WriteString("copied");
  PackedBuffer copy(original);
  original.WriteInt(99);
  EXPECT_EQ(12u, copy.payload_size());
  EXPECT_EQ(12u, HeaderValue(copy));
  EXPECT_NE(0u, copy.GetTotalAllocatedSize());
  PackedBufferReader reader(copy);
  std::string text;
  ASSERT_TRUE(reader.ReadString(&text));
  EXPECT_EQ("copied", text);
  // The copy can be written further.
  copy.WriteInt(3);
  EXPECT_EQ(16u, HeaderValue(copy));
}

// A field whose source is the buffer's own storage: the bytes written are the ones the source held before
// the write, whether or not the write grows (and so moves) the storage.
TEST(PackedBufferTest, WritesFromTheBuffersOwnBytes) {
  struct Case {
    const char* what;
    size_t filled;  // payload bytes written first: 64 fills the initial capacity, so the next write grows
    bool from_data;  // source offset counted from data() (header included) rather than payload()
    size_t offset;
    size_t length;
    bool as_string;  // WriteString of a string made from the bytes, rather than WriteBytes
  };
  const Case cases[] = {
      {"payload start, growing", 64, false, 0, 16, false},
      {"payload middle, growing", 64, false, 21, 7, false},
      {"whole payload, growing", 64, false, 0, 64, false},
      {"header and payload, growing", 64, true, 0, 12, false},
      {"payload start, in place", 40, false, 0, 16, false},
      {"header and payload, in place", 40, true, 0, 8, false},
      {"string of payload bytes, growing", 64, false, 3, 10, true},
  };
  for (const Case& c : cases) {
    PackedBuffer buffer;
    std::string block;
    for (size_t i = 0; i < c.filled; ++i)
      block += static_cast<char>(0x40 + i % 50);
    buffer.WriteBytes(block.data(), static_cast<int>(block.size()));
    const char* source = (c.from_data ? static_cast<const char*>(buffer.data()) : buffer.payload()) + c.offset;
    const std::string expected(source, c.length);  // the bytes before the write
    const size_t allocated_before = buffer.GetTotalAllocatedSize();
    if (c.as_string)
      buffer.WriteString(std::string(source, c.length));
    else
      buffer.WriteBytes(source, static_cast<int>(c.length));
    EXPECT_EQ(c.filled == 64, buffer.GetTotalAllocatedSize() != allocated_before) << c.what;

    PackedBufferReader reader(buffer);
    const char* read = nullptr;
    ASSERT_TRUE(reader.ReadBytes(&read, static_cast<int>(c.filled))) << c.what;
    std::string field;
    if (c.as_string) {
      ASSERT_TRUE(reader.ReadString(&field)) << c.what;
    } else {
      ASSERT_TRUE(reader.ReadBytes(&read, static_cast<int>(c.length))) << c.what;
      field.assign(read, c.length);
    }
    EXPECT_EQ(expected, field) << c.what;
    EXPECT_EQ(0u, reader.remaining()) << c.what;
  }
}

// Received records whose payload does not end on a whole word, or whose header is longer than 4 bytes: a
// copy appended to reads back the received bytes and then every appended field, and a view over the copy's
// bytes sees the same header and payload.
TEST(PackedBufferTest, CopyOfAReceivedRecordCanBeAppendedTo) {
  struct Case {
    std::vector<uint8_t> bytes;
    size_t header_size;
    size_t payload_size;
  };
  const Case cases[] = {
      {{1, 0, 0, 0, 0x99}, 4, 1},
      {{2, 0, 0, 0, 0x99, 0x98}, 4, 2},
      {{3, 0, 0, 0, 0x99, 0x98, 0x97}, 4, 3},
      {{5, 0, 0, 0, 1, 2, 3, 4, 5}, 4, 5},
      {{4, 0, 0, 0, 1, 2, 3, 4}, 4, 4},
      {{0, 0, 0, 0}, 4, 0},
      {{5, 0, 0, 0, 0xAA, 0xBB, 0xCC, 0xDD, 1, 2, 3, 4, 5}, 8, 5},
      {{2, 0, 0, 0, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x11, 0x22, 7, 8}, 12, 2},
  };
  for (const Case& c : cases) {
    const std::string label = "view of " + std::to_string(c.bytes.size()) + " bytes, header " +
                              std::to_string(c.header_size);
    PackedBuffer view(c.bytes.data(), static_cast<int>(c.bytes.size()));
    ASSERT_EQ(c.header_size, view.header_size()) << label;
    ASSERT_EQ(c.payload_size, view.payload_size()) << label;

    PackedBuffer copy(view);
    EXPECT_EQ(c.header_size, copy.header_size()) << label;
    copy.WriteInt(7);
    copy.WriteString("ab");

    const PackedBuffer reread(copy.data(), static_cast<int>(copy.size()));
    ASSERT_EQ(c.header_size, reread.header_size()) << label;
    // The header's words after the size field travel unchanged.
    EXPECT_EQ(std::vector<uint8_t>(c.bytes.begin() + 4, c.bytes.begin() + static_cast<ptrdiff_t>(c.header_size)),
              std::vector<uint8_t>(static_cast<const uint8_t*>(reread.data()) + 4,
                                   static_cast<const uint8_t*>(reread.data()) + c.header_size))
        << label;
    PackedBufferReader reader(reread);
    const char* received = nullptr;
    ASSERT_TRUE(reader.ReadBytes(&received, static_cast<int>(c.payload_size))) << label;
    EXPECT_EQ(0, memcmp(received, c.bytes.data() + c.header_size, c.payload_size)) << label;
    int32_t number = 0;
    std::string text;
    ASSERT_TRUE(reader.ReadInt(&number)) << label;
    EXPECT_EQ(7, number) << label;
    ASSERT_TRUE(reader.ReadString(&text)) << label;
    EXPECT_EQ("ab", text) << label;
    EXPECT_EQ(0u, reader.remaining()) << label;
  }
}

TEST(PackedBufferTest, ViewValidity) {
  uint8_t bytes[12] = {8, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0};
  {
    PackedBuffer view(bytes, sizeof(bytes));
    EXPECT_EQ(8u, view.payload_size());
    EXPECT_EQ(4u, view.header_size());
    EXPECT_EQ(0u, view.GetTotalAllocatedSize());
    EXPECT_EQ(static_cast<const void*>(bytes), view.data());  // no copy
    PackedBufferReader reader(view);
    int32_t a = 0, b = 0;
    EXPECT_TRUE(reader.ReadInt(&a));
    EXPECT_TRUE(reader.ReadInt(&b));
    EXPECT_EQ(1, a);
    EXPECT_EQ(2, b);
  }
  for (uint8_t claimed : {6, 16, 12, 9}) {
    bytes[0] = claimed;
    PackedBuffer view(bytes, sizeof(bytes));
    EXPECT_EQ(nullptr, view.data()) << int{claimed};
    EXPECT_EQ(0u, view.payload_size()) << int{claimed};
    PackedBufferReader reader(view);
    bool value;
    EXPECT_FALSE(reader.ReadBool(&value)) << int{claimed};
  }
  // A longer header than 4 bytes is accepted when it is whole words.
  bytes[0] = 4;
  PackedBuffer long_header(bytes, sizeof(bytes));
  EXPECT_EQ(8u, long_header.header_size());
  PackedBufferReader reader(long_header);
  int32_t value = 0;
  EXPECT_TRUE(reader.ReadInt(&value));
  EXPECT_EQ(2, value);
  // Too short for a header, negative, or null.
  EXPECT_EQ(nullptr, PackedBuffer(bytes, 3).data());
  EXPECT_EQ(nullptr, PackedBuffer(bytes, -4).data());
  EXPECT_EQ(nullptr, PackedBuffer(nullptr, 12).data());
}

TEST(PackedBufferTest, HugeClaimedPayloadIsInvalid) {
  uint8_t bytes[8] = {0xFC, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4};
  PackedBuffer view(bytes, sizeof(bytes));
  EXPECT_EQ(nullptr, view.data());
  // Copying an invalid view gives an empty, writable buffer.
  PackedBuffer copy(view);
  EXPECT_EQ(0u, copy.payload_size());
  copy.WriteInt(1);
  EXPECT_EQ(4u, copy.payload_size());
}

TEST(PackedBufferTest, ShortIntReadFailsAndMovesToEnd) {
  // 10 bytes: a 4-byte header and a 6-byte payload, so an int and then only 2 bytes.
  uint8_t bytes[10] = {6, 0, 0, 0, 1, 0, 0, 0, 2, 0};
  PackedBuffer view(bytes, sizeof(bytes));
  ASSERT_EQ(6u, view.payload_size());
  PackedBufferReader reader(view);
  int32_t value = -1;
  ASSERT_TRUE(reader.ReadInt(&value));
  EXPECT_EQ(2u, reader.remaining());
  EXPECT_FALSE(reader.ReadInt(&value));
  EXPECT_EQ(0u, reader.remaining());
  bool flag = true;
  EXPECT_FALSE(reader.ReadBool(&flag));  // the 2 bytes are gone for good
  EXPECT_TRUE(flag);
}

TEST(PackedBufferTest, BoolTakesFirstByteAndAdvancesToEndWhenSlotIsShort) {
  uint8_t bytes[10] = {6, 0, 0, 0, 0, 9, 9, 9, 1, 0};
  PackedBuffer view(bytes, sizeof(bytes));
  PackedBufferReader reader(view);
  bool flag = true;
  ASSERT_TRUE(reader.ReadBool(&flag));
  EXPECT_FALSE(flag);  // only the first byte counts
  ASSERT_TRUE(reader.ReadBool(&flag));
  EXPECT_TRUE(flag);
  EXPECT_EQ(0u, reader.remaining());
}

TEST(PackedBufferTest, StringReadFailures) {
  struct Case {
    int32_t length;
    const char* what;
  };
  for (const Case& c : {Case{-1, "negative"}, Case{INT_MIN, "most negative"}, Case{5, "longer than the rest"}}) {
    PackedBuffer buffer;
    buffer.WriteInt(c.length);
    buffer.WriteBytes("abcd", 4);
    PackedBufferReader reader(buffer);
    std::string text = "untouched";
    EXPECT_FALSE(reader.ReadString(&text)) << c.what;
    EXPECT_EQ("untouched", text) << c.what;
    EXPECT_EQ(0u, reader.remaining()) << c.what;
  }
  // A length that fits exactly but lacks its padding still reads, and leaves the reader at the end.
  uint8_t bytes[11] = {7, 0, 0, 0, 3, 0, 0, 0, 'x', 'y', 'z'};
  PackedBuffer view(bytes, sizeof(bytes));
  PackedBufferReader reader(view);
  std::string text;
  ASSERT_TRUE(reader.ReadString(&text));
  EXPECT_EQ("xyz", text);
  EXPECT_EQ(0u, reader.remaining());
}

TEST(PackedBufferTest, String16LengthOverflowFails) {
  for (int32_t length : {INT_MAX, INT_MAX / 2 + 1, 3, -2}) {
    PackedBuffer buffer;
    buffer.WriteInt(length);
    buffer.WriteBytes("abcd", 4);
    PackedBufferReader reader(buffer);
    std::wstring text = L"untouched";
    EXPECT_FALSE(reader.ReadString16(&text)) << length;
    EXPECT_EQ(L"untouched", text);
    EXPECT_EQ(0u, reader.remaining());
  }
}

TEST(PackedBufferTest, ReadBytesBounds) {
  PackedBuffer buffer;
  buffer.WriteBytes("abcdef", 6);
  {
    PackedBufferReader reader(buffer);
    const char* data = nullptr;
    EXPECT_FALSE(reader.ReadBytes(&data, -1));
    EXPECT_EQ(nullptr, data);
    EXPECT_EQ(0u, reader.remaining());
  }
  {
    PackedBufferReader reader(buffer);
    const char* data = nullptr;
    EXPECT_FALSE(reader.ReadBytes(&data, 9));
    EXPECT_EQ(0u, reader.remaining());
  }
  {
    PackedBufferReader reader(buffer);
    const char* data = nullptr;
    EXPECT_TRUE(reader.ReadBytes(&data, 0));
    EXPECT_TRUE(reader.ReadBytes(&data, 8));  // the padding is part of the payload
    EXPECT_EQ(0, memcmp(data, "abcdef\0\0", 8));
  }
}

class CountedAttachment : public PackedBuffer::Attachment {
 public:
  explicit CountedAttachment(int* destroyed) : destroyed_(destroyed) {}

 private:
  ~CountedAttachment() override { ++*destroyed_; }
  int* destroyed_;
};

TEST(PackedBufferTest, AttachmentsAreRefusedAndReleased) {
  PackedBuffer buffer;
  int destroyed = 0;
  EXPECT_FALSE(buffer.WriteAttachment(MakeRefCounted<CountedAttachment>(&destroyed)));
  EXPECT_EQ(1, destroyed);  // the last reference was dropped
  scoped_refptr<PackedBuffer::Attachment> kept = MakeRefCounted<CountedAttachment>(&destroyed);
  EXPECT_FALSE(buffer.WriteAttachment(kept));
  EXPECT_EQ(1, destroyed);  // still referenced here
  kept = nullptr;
  EXPECT_EQ(2, destroyed);
  EXPECT_FALSE(buffer.HasAttachments());
  PackedBufferReader reader(buffer);
  scoped_refptr<PackedBuffer::Attachment> read;
  EXPECT_FALSE(buffer.ReadAttachment(&reader, &read));
  EXPECT_EQ(nullptr, read);
  EXPECT_EQ(0u, buffer.payload_size());  // nothing of it reached the bytes
}

// Fields written from Linux with Python's struct module must read back here, and a buffer written here must
// decode there (see testdata_setup.sh and testdata_check.sh).
TEST(PackedBufferTest, MatchesStructPackedOnLinux) {
  const std::wstring dir = test_support::TestDataDir();
  ASSERT_FALSE(dir.empty());
  std::string bytes;
  ASSERT_TRUE(test_support::ReadFileBytes(dir + L"\\packed_buffer\\from_python.bin", &bytes));
  PackedBuffer view(bytes.data(), static_cast<int>(bytes.size()));
  ASSERT_NE(nullptr, view.data());
  PackedBufferReader reader(view);
  int32_t i = 0;
  int64_t l = 0;
  std::string s;
  std::wstring w;
  bool b = false;
  ASSERT_TRUE(reader.ReadInt(&i));
  EXPECT_EQ(-123456789, i);
  ASSERT_TRUE(reader.ReadInt64(&l));
  EXPECT_EQ(0x0123456789ABCDEFLL, l);
  ASSERT_TRUE(reader.ReadString(&s));
  EXPECT_EQ("h\xc3\xa9llo", s);
  ASSERT_TRUE(reader.ReadString16(&w));
  EXPECT_EQ(L"h\u00e9llo \U0001F600", w);
  ASSERT_TRUE(reader.ReadBool(&b));
  EXPECT_TRUE(b);
  EXPECT_EQ(0u, reader.remaining());

  PackedBuffer out;
  out.WriteInt(-123456789);
  out.WriteInt64(0x0123456789ABCDEFLL);
  out.WriteString("h\xc3\xa9llo");
  out.WriteString16(L"h\u00e9llo \U0001F600");
  out.WriteInt(1);
  out.WriteBytes("tail", 4);
  ASSERT_TRUE(test_support::WriteFileBytes(
      dir + L"\\packed_buffer\\from_windows.bin",
      std::string(static_cast<const char*>(out.data()), out.size())));
}

// Appends `bytes` to a model of the record's payload as one field: the bytes, then zeros to a whole word.
void AppendModelField(std::string* payload, const std::string& bytes) {
  *payload += bytes;
  payload->append((4 - bytes.size() % 4) % 4, '\0');
}

template <typename Number>
Number FromBytes(const std::string& bytes) {
  Number value;
  memcpy(&value, bytes.data(), sizeof(value));
  return value;
}

std::string LittleEndian32(uint32_t value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof(value));
}

// Random received records (any payload length, headers of one to three words) are copied, appended to with
// random fields (some taken from the copy's own bytes) and compared byte for byte with a model of the format;
// then a view over the result reads every field back.
TEST(PackedBufferTest, RandomRecordsCopiedAppendedAndReread) {
  std::mt19937 random(4311);
  auto random_bytes = [&](size_t length) {
    std::string bytes;
    for (size_t i = 0; i < length; ++i)
      bytes += static_cast<char>(random());
    return bytes;
  };
  enum Kind { kInt, kInt64, kString, kString16, kBytes, kOwnBytes };
  struct Field {
    Kind kind;
    std::string bytes;  // the value as written (UTF-16 units for kString16)
  };

  for (int round = 0; round < 2000; ++round) {
    const size_t extra_header = (random() % 3) * 4;
    const std::string received_payload = random_bytes(random() % 40);
    const std::string header_words = random_bytes(extra_header);
    const std::string received =
        LittleEndian32(static_cast<uint32_t>(received_payload.size())) + header_words + received_payload;
    const PackedBuffer view(received.data(), static_cast<int>(received.size()));
    ASSERT_EQ(4 + extra_header, view.header_size());

    PackedBuffer copy(view);
    std::string model;
    AppendModelField(&model, received_payload);
    std::vector<Field> fields;
    for (int count = static_cast<int>(random() % 30); count > 0; --count) {
      Field field{static_cast<Kind>(random() % 6), std::string()};
      switch (field.kind) {
        case kInt:
          field.bytes = random_bytes(4);
          copy.WriteInt(FromBytes<int32_t>(field.bytes));
          break;
        case kInt64:
          field.bytes = random_bytes(8);
          copy.WriteInt64(FromBytes<int64_t>(field.bytes));
          break;
        case kString:
          field.bytes = random_bytes(random() % 70);
          copy.WriteString(field.bytes);
          AppendModelField(&model, LittleEndian32(static_cast<uint32_t>(field.bytes.size())));
          break;
        case kString16: {
          field.bytes = random_bytes((random() % 40) * 2);
          std::wstring units(field.bytes.size() / 2, L'\0');
          memcpy(&units[0], field.bytes.data(), field.bytes.size());
          copy.WriteString16(units);
          AppendModelField(&model, LittleEndian32(static_cast<uint32_t>(units.size())));
          break;
        }
        case kBytes:
          field.bytes = random_bytes(random() % 70);
          copy.WriteBytes(field.bytes.data(), static_cast<int>(field.bytes.size()));
          break;
        case kOwnBytes: {
          // Any stretch of the copy's header and payload.
          const size_t start = random() % copy.size();
          const size_t length = random() % (copy.size() - start + 1);
          const char* source = static_cast<const char*>(copy.data()) + start;
          field.bytes.assign(source, length);
          copy.WriteBytes(source, static_cast<int>(length));
          break;
        }
      }
      AppendModelField(&model, field.bytes);
      fields.push_back(field);
    }

    const std::string expected = LittleEndian32(static_cast<uint32_t>(model.size())) + header_words + model;
    ASSERT_EQ(expected, std::string(static_cast<const char*>(copy.data()), copy.size())) << "round " << round;

    const PackedBuffer reread(expected.data(), static_cast<int>(expected.size()));
    PackedBufferReader reader(reread);
    const char* bytes = nullptr;
    ASSERT_TRUE(reader.ReadBytes(&bytes, static_cast<int>(received_payload.size())));
    ASSERT_EQ(received_payload, std::string(bytes, received_payload.size()));
    for (const Field& field : fields) {
      std::string read;
      switch (field.kind) {
        case kInt: {
          int32_t value;
          ASSERT_TRUE(reader.ReadInt(&value));
          read = LittleEndian32(static_cast<uint32_t>(value));
          break;
        }
        case kInt64: {
          int64_t value;
          ASSERT_TRUE(reader.ReadInt64(&value));
          read.assign(reinterpret_cast<const char*>(&value), 8);
          break;
        }
        case kString:
          ASSERT_TRUE(reader.ReadString(&read));
          break;
        case kString16: {
          std::wstring units;
          ASSERT_TRUE(reader.ReadString16(&units));
          read.assign(reinterpret_cast<const char*>(units.data()), units.size() * 2);
          break;
        }
        case kBytes:
        case kOwnBytes:
          ASSERT_TRUE(reader.ReadBytes(&bytes, static_cast<int>(field.bytes.size())));
          read.assign(bytes, field.bytes.size());
          break;
      }
      ASSERT_EQ(field.bytes, read) << "round " << round;
    }
    EXPECT_EQ(0u, reader.remaining());
  }
}

// Mutated copies of a valid record (flipped bytes, truncation, forged headers) are read field by field with
// every kind of read; none may crash or read outside the bytes, and every read either succeeds or reports
// failure and leaves the reader at the end.
TEST(PackedBufferTest, MutatedRecordsNeverReadOutside) {
  PackedBuffer model;
  model.WriteInt(3);
  model.WriteString("name of a histogram");
  model.WriteString16(L"wide text");
  model.WriteInt64(-1);
  model.WriteBytes("12345", 5);
  const std::string original(static_cast<const char*>(model.data()), model.size());

  std::mt19937 random(20240611);
  int failures = 0, successes = 0;
  for (int round = 0; round < 100000; ++round) {
    std::string bytes = original;
    const int mutations = 1 + static_cast<int>(random() % 4);
    for (int m = 0; m < mutations; ++m) {
      const size_t at = random() % bytes.size();
      switch (random() % 4) {
        case 0:
          bytes[at] = static_cast<char>(random());
          break;
        case 1:
          bytes.resize(at);
          break;
        case 2: {
          // A length field claiming something odd.
          const int32_t forged = static_cast<int32_t>(random());
          if (bytes.size() >= at + 4)
            memcpy(&bytes[at], &forged, 4);
          break;
        }
        default:
          bytes.insert(at, 1 + random() % 7, static_cast<char>(random()));
          break;
      }
      if (bytes.empty())
        break;
    }
    // The record gets an allocation of exactly its size, and every pointer handed out is checked against it.
    std::vector<char> storage(bytes.begin(), bytes.end());
    PackedBuffer view(storage.data(), static_cast<int>(storage.size()));
    PackedBufferReader reader(view);
    const char* begin = storage.data();
    const char* end = begin + storage.size();
    for (int field = 0; field < 12; ++field) {
      bool ok = false;
      const char* data = nullptr;
      int32_t i = 0;
      int64_t l = 0;
      bool b = false;
      std::string s;
      std::wstring w;
      switch (random() % 6) {
        case 0: ok = reader.ReadInt(&i); break;
        case 1: ok = reader.ReadInt64(&l); break;
        case 2: ok = reader.ReadBool(&b); break;
        case 3: ok = reader.ReadString(&s); break;
        case 4: ok = reader.ReadString16(&w); break;
        default: {
          const int length = static_cast<int>(random() % 24) - 2;
          ok = reader.ReadBytes(&data, length);
          if (ok) {
            ASSERT_GE(data, begin);
            ASSERT_LE(data + length, end);
          }
          break;
        }
      }
      ASSERT_LE(reader.remaining(), view.payload_size());
      if (ok) {
        ++successes;
      } else {
        ++failures;
        ASSERT_EQ(0u, reader.remaining());
      }
    }
  }
  // Both outcomes must actually occur, or the mutations tested nothing.
  EXPECT_GT(failures, 10000);
  EXPECT_GT(successes, 10000);
}

}  // namespace
}  // namespace base
