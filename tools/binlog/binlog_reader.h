// Reads a binary event log (a joined run log or one part file) back into records, with the
// strings unscrambled. Used by the decoder tool and by the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace binlog {

struct Field {
  enum class Kind { kByte, kU32, kString, kBlock } kind = Kind::kU32;
  uint32_t number = 0;  // byte or u32
  std::string text;     // string or block bytes
};

struct Record {
  uint32_t tag = 0;
  uint64_t fileTime = 0;  // 100 ns since 1601, UTC
  std::string kind;       // "message", "thread-start", ... or "unknown"
  std::vector<Field> fields;
  // The part this record belongs to: the last thread-start record before it.
  uint32_t partThreadId = 0;
  std::string partName;

  // For "message" records.
  int Level() const { return static_cast<int>(fields.at(0).number); }
  const std::string& Message() const { return fields.at(1).text; }
  const std::string& Source() const { return fields.at(2).text; }
  uint32_t Line() const { return fields.at(3).number; }
};

struct ReadResult {
  std::vector<Record> records;
  std::string error;  // empty when the whole input was read
};

ReadResult Parse(const std::string& bytes);
// "2026-12-08 18:05:09.007Z".
std::string FormatTime(uint64_t fileTime);
// One readable line per record.
std::string ToText(const Record& record);
// A JSON array of every record.
std::string ToJson(const std::vector<Record>& records);

}  // namespace binlog
