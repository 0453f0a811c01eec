#include "plinth_reports/outgoing_report.h"

#include "core/support/base64.h"

namespace plinth {

using ferrytide::json::DecodeError;
using ferrytide::json::Value;

Value OutgoingReport::toJson() const {
  Value files_ = Value::array();
  for (const File& file : files) {
    files_.push_back(Value{{"part", file.part},
                           {"filename", file.filename},
                           {"data", ferrytide::base64::encode(file.data)}});
  }
  return Value{{"fields", fields}, {"files", files_}};
}

OutgoingReport OutgoingReport::fromJson(const Value& value) {
  namespace json = ferrytide::json;
  const Value& object = json::requireObject(value);
  OutgoingReport report;
  auto fields = object.find("fields");
  if (fields == object.end() || !fields->is_object())
    throw DecodeError("\"fields\" must be an object");
  for (const auto& [key, field] : fields->items()) {
    if (!field.is_string()) throw DecodeError("field \"" + key + "\" must be a string");
    report.fields[key] = field.get<std::string>();
  }
  for (const Value& file : json::requireArray(object, "files")) {
    std::string encoded = json::requireString(json::requireObject(file), "data");
    std::optional<ferrytide::Bytes> data = ferrytide::base64::decode(encoded);
    if (!data) throw DecodeError("\"data\" must be Base64");
    report.files.push_back(File{json::requireString(file, "part"),
                                json::requireString(file, "filename"), std::move(*data)});
  }
  return report;
}

}  // namespace plinth
