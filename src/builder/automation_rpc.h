// The automation object over a line protocol: JSON-RPC 2.0, one request
// per line, one response per line. The builder serves one object this way
// on standard input and output ("Cratex --automation").
//
//   {"jsonrpc":"2.0","id":1,"method":"CreateArchive","params":["C:\\out\\a.exe"]}
//   {"jsonrpc":"2.0","id":1,"result":true}
//
// Methods are the object's eleven, by name; parameters are a positional
// array (or left out when a method takes none). Results are true/false,
// and null for SetOptions and SetIgnorableFileExtensions. A request
// without "id" is a notification: it runs and gets no response. Errors are
// JSON-RPC error objects: -32700 a line that is not JSON, -32600 not a
// request (batches included), -32601 an unknown method, -32602 parameters
// of the wrong number or kind. Strings are taken as bytes: UTF-8 passes
// through unchanged and \u escapes are written as UTF-8.
#ifndef CRX_BUILDER_AUTOMATION_RPC_H
#define CRX_BUILDER_AUTOMATION_RPC_H

#include <cstddef>
#include <string>
#include <vector>

#include "builder/automation.h"

namespace crx::builder {

// A longer request line is refused with a parse error.
inline constexpr size_t kRpcLineLimit = 1024 * 1024;
// Arrays and objects nested deeper than this are refused.
inline constexpr int kRpcDepthLimit = 32;

// JSON-RPC 2.0 error codes.
enum : int {
  kRpcParseError = -32700,
  kRpcInvalidRequest = -32600,
  kRpcMethodNotFound = -32601,
  kRpcInvalidParams = -32602,
};

// One JSON value of a request: what the protocol needs of it.
struct RpcValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  std::string text;                 // a string's bytes; a number's JSON text
  std::vector<RpcValue> items;      // array items, or object member values
  std::vector<std::string> names;   // object member names (same order)
};

// Parses one complete JSON text strictly (RFC 8259: no comments, no
// trailing commas, no leading zeros, no raw control characters in
// strings, surrogates paired). False with a short reason on error.
bool ParseJson(const std::string& text, RpcValue* value, std::string* why);

// A JSON string literal for bytes (quotes, back-slashes and control
// characters escaped; other bytes as they are).
std::string JsonString(const std::string& bytes);

// Handles one request line on object. *respond is false for a
// notification (and for an empty line); otherwise the response line
// (without its line end) is returned.
std::string HandleRpcLine(AutomationObject& object, const std::string& line, bool* respond);

// Serves object on terminal: reads request lines until the end of input
// and writes each response as one line. Then the object is released (an
// archive still being written is abandoned). Returns how many responses
// were written.
int ServeRpc(AutomationObject& object, Terminal& terminal);

}  // namespace crx::builder

#endif  // CRX_BUILDER_AUTOMATION_RPC_H
