#include "builder/automation_rpc.h"

#include <cstdint>

#include "common/format.h"
#include "platform/platform.h"

namespace crx::builder {
namespace {

class JsonParser {
 public:
  explicit JsonParser(const std::string& text) : s_(text) {}

  bool Parse(RpcValue* value, std::string* why) {
    SkipSpace();
    if (!Value(value, 0)) {
      *why = why_;
      return false;
    }
    SkipSpace();
    if (pos_ != s_.size()) {
      *why = Format("unexpected text at offset %d", static_cast<int>(pos_));
      return false;
    }
    return true;
  }

 private:
  bool Fail(const char* what) {
    if (why_.empty()) why_ = Format("%s at offset %d", what, static_cast<int>(pos_));
    return false;
  }
  bool AtEnd() const { return pos_ >= s_.size(); }
  char Peek() const { return AtEnd() ? '\0' : s_[pos_]; }
  void SkipSpace() {
    while (!AtEnd() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' ||
                        s_[pos_] == '\r')) {
      ++pos_;
    }
  }
  bool Literal(const char* word) {
    for (size_t i = 0; word[i] != '\0'; ++i) {
      if (pos_ + i >= s_.size() || s_[pos_ + i] != word[i]) return Fail("bad literal");
    }
    pos_ += std::char_traits<char>::length(word);
    return true;
  }

  bool Value(RpcValue* v, int depth) {
    if (AtEnd()) return Fail("unexpected end");
    switch (Peek()) {
      case '{': return Object(v, depth + 1);
      case '[': return Array(v, depth + 1);
      case '"': v->kind = RpcValue::Kind::kString; return String(&v->text);
      case 't': v->kind = RpcValue::Kind::kBool; v->boolean = true; return Literal("true");
      case 'f': v->kind = RpcValue::Kind::kBool; v->boolean = false; return Literal("false");
      case 'n': v->kind = RpcValue::Kind::kNull; return Literal("null");
      default: v->kind = RpcValue::Kind::kNumber; return Number(&v->text);
    }
  }

  bool Object(RpcValue* v, int depth) {
    if (depth > kRpcDepthLimit) return Fail("nested too deeply");
    v->kind = RpcValue::Kind::kObject;
    ++pos_;  // {
    SkipSpace();
    if (Peek() == '}') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipSpace();
      if (Peek() != '"') return Fail("expected a member name");
      std::string name;
      if (!String(&name)) return false;
      SkipSpace();
      if (Peek() != ':') return Fail("expected ':'");
      ++pos_;
      SkipSpace();
      RpcValue item;
      if (!Value(&item, depth)) return false;
      v->names.push_back(std::move(name));
      v->items.push_back(std::move(item));
      SkipSpace();
      if (Peek() == ',') {
        ++pos_;
        continue;
      }
      if (Peek() == '}') {
        ++pos_;
        return true;
      }
      return Fail("expected ',' or '}'");
    }
  }

  bool Array(RpcValue* v, int depth) {
    if (depth > kRpcDepthLimit) return Fail("nested too deeply");
    v->kind = RpcValue::Kind::kArray;
    ++pos_;  // [
    SkipSpace();
    if (Peek() == ']') {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipSpace();
      RpcValue item;
      if (!Value(&item, depth)) return false;
      v->items.push_back(std::move(item));
      SkipSpace();
      if (Peek() == ',') {
        ++pos_;
        continue;
      }
      if (Peek() == ']') {
        ++pos_;
        return true;
      }
      return Fail("expected ',' or ']'");
    }
  }

  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

  bool Number(std::string* out) {
    const size_t start = pos_;
    if (Peek() == '-') ++pos_;
    if (Peek() == '0') {
      ++pos_;
    } else if (IsDigit(Peek())) {
      while (IsDigit(Peek())) ++pos_;
    } else {
      return Fail("bad value");
    }
    if (Peek() == '.') {
      ++pos_;
      if (!IsDigit(Peek())) return Fail("bad number");
      while (IsDigit(Peek())) ++pos_;
    }
    if (Peek() == 'e' || Peek() == 'E') {
      ++pos_;
      if (Peek() == '+' || Peek() == '-') ++pos_;
      if (!IsDigit(Peek())) return Fail("bad number");
      while (IsDigit(Peek())) ++pos_;
    }
    out->assign(s_, start, pos_ - start);
    return true;
  }

  bool Hex4(uint32_t* code) {
    if (pos_ + 4 > s_.size()) return Fail("short \\u escape");
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = s_[pos_ + i];
      value <<= 4;
      if (c >= '0' && c <= '9') {
        value |= static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        value |= static_cast<uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        value |= static_cast<uint32_t>(c - 'A' + 10);
      } else {
        return Fail("bad \\u escape");
      }
    }
    pos_ += 4;
    *code = value;
    return true;
  }

  static void AppendUtf8(std::string* out, uint32_t code) {
    if (code < 0x80) {
      out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (code >> 6)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (code >> 12)));
      out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (code >> 18)));
      out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }

  bool String(std::string* out) {
    ++pos_;  // opening quote
    out->clear();
    for (;;) {
      if (AtEnd()) return Fail("unterminated string");
      const unsigned char c = static_cast<unsigned char>(s_[pos_]);
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c < 0x20) return Fail("control character in a string");
      if (c != '\\') {
        out->push_back(static_cast<char>(c));
        ++pos_;
        continue;
      }
      ++pos_;
      if (AtEnd()) return Fail("unterminated string");
      const char e = s_[pos_++];
      switch (e) {
        case '"': out->push_back('"'); break;
        case '\\': out->push_back('\\'); break;
        case '/': out->push_back('/'); break;
        case 'b': out->push_back('\b'); break;
        case 'f': out->push_back('\f'); break;
        case 'n': out->push_back('\n'); break;
        case 'r': out->push_back('\r'); break;
        case 't': out->push_back('\t'); break;
        case 'u': {
          uint32_t code = 0;
          if (!Hex4(&code)) return false;
          if (code >= 0xDC00 && code <= 0xDFFF) return Fail("lone low surrogate");
          if (code >= 0xD800 && code <= 0xDBFF) {
            if (pos_ + 2 > s_.size() || s_[pos_] != '\\' || s_[pos_ + 1] != 'u') {
              return Fail("lone high surrogate");
            }
            pos_ += 2;
            uint32_t low = 0;
            if (!Hex4(&low)) return false;
            if (low < 0xDC00 || low > 0xDFFF) return Fail("bad surrogate pair");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(out, code);
          break;
        }
        default: return Fail("bad escape");
      }
    }
  }

  const std::string& s_;
  size_t pos_ = 0;
  std::string why_;
};

std::string ErrorResponse(const std::string& id, int code, const std::string& message) {
  return Format("{\"jsonrpc\":\"2.0\",\"id\":%s,\"error\":{\"code\":%d,\"message\":%s}}",
                id.c_str(), code, JsonString(message).c_str());
}

std::string ResultResponse(const std::string& id, const char* result) {
  return Format("{\"jsonrpc\":\"2.0\",\"id\":%s,\"result\":%s}", id.c_str(), result);
}

// A member of an object, or null when it is not there.
const RpcValue* Member(const RpcValue& object, const char* name) {
  for (size_t i = 0; i < object.names.size(); ++i) {
    if (object.names[i] == name) return &object.items[i];
  }
  return nullptr;
}

// The JSON text of an id as the response repeats it.
std::string IdText(const RpcValue& id) {
  if (id.kind == RpcValue::Kind::kString) return JsonString(id.text);
  if (id.kind == RpcValue::Kind::kNumber) return id.text;
  return "null";
}

// A JSON integer literal within 32 bits.
bool Int32FromNumber(const std::string& text, int32_t* value) {
  size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) i = 1;
  if (i >= text.size()) return false;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;  // fractions and exponents
    v = v * 10 + (text[i] - '0');
    if (v > 2147483648LL) return false;
  }
  if (negative) v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

enum class Params { kNone, kText, kNumber };

struct MethodRow {
  const char* name;
  Params params;
};

// In dispatch order.
constexpr MethodRow kMethods[] = {
    {"CreateArchive", Params::kText},
    {"AddDirectory", Params::kText},
    {"AddFile", Params::kText},
    {"ProcessScript", Params::kText},
    {"ExtractArchive", Params::kText},
    {"SetOptions", Params::kText},
    {"CloseArchive", Params::kNone},
    {"AbortArchive", Params::kNone},
    {"SetPassword", Params::kText},
    {"SetExtractionOverwriteMode", Params::kNumber},
    {"SetIgnorableFileExtensions", Params::kText},
};

// Runs method number index (0-based, dispatch order) with its argument;
// the JSON text of its result.
const char* Call(AutomationObject& object, size_t index, const std::string& text,
                 int32_t number) {
  auto b = [](bool value) { return value ? "true" : "false"; };
  switch (index) {
    case 0: return b(object.CreateArchive(text));
    case 1: return b(object.AddDirectory(text));
    case 2: return b(object.AddFile(text));
    case 3: return b(object.ProcessScript(text));
    case 4: return b(object.ExtractArchive(text));
    case 5: object.SetOptions(text); return "null";
    case 6: return b(object.CloseArchive());
    case 7: return b(object.AbortArchive());
    case 8: return b(object.SetPassword(text));
    case 9: return b(object.SetExtractionOverwriteMode(number));
    default: object.SetIgnorableFileExtensions(text); return "null";
  }
}

}  // namespace

bool ParseJson(const std::string& text, RpcValue* value, std::string* why) {
  JsonParser parser(text);
  *value = RpcValue();
  return parser.Parse(value, why);
}

std::string JsonString(const std::string& bytes) {
  std::string out = "\"";
  for (char ch : bytes) {
    const unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          AppendFormat(&out, "\\u%04x", static_cast<unsigned>(c));
        } else {
          out.push_back(ch);
        }
    }
  }
  out += '"';
  return out;
}

std::string HandleRpcLine(AutomationObject& object, const std::string& line, bool* respond) {
  *respond = true;
  if (line.find_first_not_of(" \t\r") == std::string::npos) {
    *respond = false;  // a blank line is no request
    return std::string();
  }
  if (line.size() > kRpcLineLimit) {
    return ErrorResponse("null", kRpcParseError,
                         Format("Parse error: the request is longer than %d bytes",
                                static_cast<int>(kRpcLineLimit)));
  }
  RpcValue request;
  std::string why;
  if (!ParseJson(line, &request, &why)) return ErrorResponse("null", kRpcParseError,
                                                             "Parse error: " + why);
  if (request.kind == RpcValue::Kind::kArray) {
    return ErrorResponse("null", kRpcInvalidRequest,
                         "Invalid Request: batches are not served; send one request per line");
  }
  if (request.kind != RpcValue::Kind::kObject) {
    return ErrorResponse("null", kRpcInvalidRequest, "Invalid Request: not an object");
  }
  for (size_t i = 0; i < request.names.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (request.names[i] == request.names[j]) {
        return ErrorResponse("null", kRpcInvalidRequest,
                             "Invalid Request: member \"" + request.names[i] + "\" repeated");
      }
    }
  }
  const RpcValue* id = Member(request, "id");
  std::string id_text = "null";
  if (id != nullptr) {
    if (id->kind != RpcValue::Kind::kString && id->kind != RpcValue::Kind::kNumber &&
        id->kind != RpcValue::Kind::kNull) {
      return ErrorResponse("null", kRpcInvalidRequest,
                           "Invalid Request: id must be a string, a number or null");
    }
    id_text = IdText(*id);
  }
  const RpcValue* version = Member(request, "jsonrpc");
  if (version == nullptr || version->kind != RpcValue::Kind::kString || version->text != "2.0") {
    return ErrorResponse(id_text, kRpcInvalidRequest, "Invalid Request: jsonrpc must be \"2.0\"");
  }
  const RpcValue* method = Member(request, "method");
  if (method == nullptr || method->kind != RpcValue::Kind::kString) {
    return ErrorResponse(id_text, kRpcInvalidRequest,
                         "Invalid Request: method must be a string");
  }
  const RpcValue* params = Member(request, "params");
  if (params != nullptr && params->kind != RpcValue::Kind::kArray &&
      params->kind != RpcValue::Kind::kObject) {
    return ErrorResponse(id_text, kRpcInvalidRequest,
                         "Invalid Request: params must be an array");
  }

  size_t index = 0;
  const size_t count = sizeof kMethods / sizeof kMethods[0];
  while (index < count && method->text != kMethods[index].name) ++index;
  if (index == count) {
    return ErrorResponse(id_text, kRpcMethodNotFound, "Method not found: " + method->text);
  }
  const MethodRow& row = kMethods[index];
  if (params != nullptr && params->kind == RpcValue::Kind::kObject) {
    return ErrorResponse(id_text, kRpcInvalidParams,
                         "Invalid params: give the parameters as an array");
  }
  const size_t given = params == nullptr ? 0 : params->items.size();
  const size_t wanted = row.params == Params::kNone ? 0 : 1;
  if (given != wanted) {
    return ErrorResponse(id_text, kRpcInvalidParams,
                         Format("Invalid params: %s takes %d parameter%s", row.name,
                                static_cast<int>(wanted), wanted == 1 ? "" : "s"));
  }
  std::string text;
  int32_t number = 0;
  if (row.params == Params::kText) {
    const RpcValue& p = params->items[0];
    if (p.kind != RpcValue::Kind::kString) {
      return ErrorResponse(id_text, kRpcInvalidParams,
                           Format("Invalid params: %s takes a string", row.name));
    }
    if (p.text.find('\0') != std::string::npos) {
      return ErrorResponse(id_text, kRpcInvalidParams,
                           Format("Invalid params: %s got a string holding a zero character",
                                  row.name));
    }
    text = p.text;
  } else if (row.params == Params::kNumber) {
    const RpcValue& p = params->items[0];
    if (p.kind != RpcValue::Kind::kNumber || !Int32FromNumber(p.text, &number)) {
      return ErrorResponse(id_text, kRpcInvalidParams,
                           Format("Invalid params: %s takes a 32-bit integer", row.name));
    }
  }
  const char* result = Call(object, index, text, number);
  if (id == nullptr) {
    *respond = false;  // a notification
    return std::string();
  }
  return ResultResponse(id_text, result);
}

int ServeRpc(AutomationObject& object, Terminal& terminal) {
  int handled = 0;
  std::string line;
  while (terminal.ReadLine(&line)) {
    bool respond = false;
    const std::string response = HandleRpcLine(object, line, &respond);
    if (respond) {
      ++handled;
      terminal.Write(response + "\n");
    }
  }
  object.Release();
  return handled;
}

}  // namespace crx::builder
