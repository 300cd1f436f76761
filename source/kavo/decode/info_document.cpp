// Writing an info document from its typed records, and reading one back.
#include "decode/info_document.h"

#include "base/json_reader.h"
#include "base/json_writer.h"
#include "base/kavo_json.h"

namespace kavo {
namespace {

void WriteRecord(JsonWriter& out, const Parameter& record) {
    const ParameterDescription& description = record.description();
    // Members in byte order of their names, as every object of a document.
    out.Key(record.name());
    out.BeginObject();
    if (record.compareType != nullptr) out.Member("compare type", record.compareType);
    out.Member("description", description.description);
    out.Member("name", record.name());
    if (record.number.present()) out.Member("number", record.number);
    out.Member("source", description.source);
    if (record.number.present()) out.Member("unit", UnitName(description.unit));
    out.Member("value", record.value);
    out.EndObject();
}

void WriteParameters(JsonWriter& out, const Parameters& parameters) {
    out.Key("parameters");
    out.BeginObject();
    for (const Parameter* record : parameters.Ordered()) WriteRecord(out, *record);
    out.EndObject();
}

// `object`'s members in order, with "parameters" written from the records
// at its place among them.
void WriteWithParameters(JsonWriter& out, const Json::Value& object, const Parameters& parameters) {
    out.BeginObject();
    bool written = false;
    for (auto member = object.begin(); member != object.end(); ++member) {
        const std::string name = member.name();
        if (!written && name >= "parameters") {
            WriteParameters(out, parameters);
            written = true;
            if (name == "parameters") continue;
        }
        out.Member(name, *member);
    }
    if (!written) WriteParameters(out, parameters);
    out.EndObject();
}

// Events of an info document: the records of "nvme" / "parameters" into
// typed records, the rest into a library value.
class InfoReader : public JsonEvents {
public:
    InfoReader(InfoDocument& info, size_t* unknown) : info_(info), rest_(info.document), unknown_(unknown) {}

    void Null() override { Scalar([&] { rest_.Null(); }, "", kavo::Number()); }
    void Bool(bool value) override { Scalar([&] { rest_.Bool(value); }, value ? "true" : "false", kavo::Number()); }
    void Number(std::string_view literal) override {
        Scalar([&] { rest_.Number(literal); }, std::string(literal), kavo::Number::FromLiteral(literal));
    }
    void String(std::string_view text) override {
        Scalar([&] { rest_.String(text); }, std::string(text), kavo::Number());
    }
    void Key(std::string_view name) override {
        key_.assign(name.data(), name.size());
        if (!InParameters()) rest_.Key(name);
    }
    void BeginObject() override { Begin(true); }
    void BeginArray() override { Begin(false); }
    void EndObject() override { End(); }
    void EndArray() override { End(); }
    bool SawParameters() const { return sawParameters_; }

private:
    bool InParameters() const { return parametersDepth_ != 0 && depth() >= parametersDepth_; }
    size_t depth() const { return opened_.size(); }

    template <typename Forward>
    void Scalar(Forward forward, std::string text, kavo::Number number) {
        if (!InParameters()) return forward();
        if (depth() != parametersDepth_ + 1) return;  // not a member of a record
        if (key_ == "value") value_ = std::move(text);
        else if (key_ == "number") number_ = number;
    }

    void Begin(bool object) {
        const std::string under = key_;
        if (!InParameters() && object && depth() == 2 && opened_[1] == "nvme" && under == "parameters") {
            opened_.push_back(under);
            parametersDepth_ = depth();
            sawParameters_ = true;
            return;
        }
        opened_.push_back(under);
        if (!InParameters()) {
            object ? rest_.BeginObject() : rest_.BeginArray();
        } else if (depth() == parametersDepth_ + 1) {
            record_ = under;
            value_.clear();
            number_ = kavo::Number();
        }
    }

    void End() {
        if (!InParameters()) {
            opened_.pop_back();
            // The library value's own end: objects and arrays end alike for it.
            rest_.EndObject();
            return;
        }
        if (depth() == parametersDepth_ + 1 && !record_.empty()) AddRecord();
        if (depth() == parametersDepth_) parametersDepth_ = 0;
        opened_.pop_back();
    }

    void AddRecord() {
        if (FindParameter(record_) == nullptr) {
            if (unknown_ != nullptr) ++*unknown_;
        } else {
            info_.parameters.Add(record_, Rendered(value_, number_));
        }
        record_.clear();
    }

    InfoDocument& info_;
    JsonValueBuilder rest_;
    size_t* unknown_;
    std::vector<std::string> opened_;  // the member name each open container stands under
    std::string key_, record_, value_;
    kavo::Number number_;
    size_t parametersDepth_ = 0;  // the depth of the open "parameters" object; 0 outside it
    bool sawParameters_ = false;
};

}  // namespace

std::string InfoDocumentText(const InfoDocument& info) {
    JsonWriter out;
    const Json::Value& root = info.document;
    out.BeginObject();
    bool written = false;
    auto writeNvme = [&](const Json::Value& nvme) {
        out.Key("nvme");
        WriteWithParameters(out, nvme.isObject() ? nvme : Json::Value(Json::objectValue), info.parameters);
        written = true;
    };
    for (auto member = root.begin(); member != root.end(); ++member) {
        const std::string name = member.name();
        if (!written && name >= "nvme") {
            writeNvme(name == "nvme" ? *member : Json::Value());
            if (name == "nvme") continue;
        }
        out.Member(name, *member);
    }
    if (!written) writeNvme(Json::Value());
    out.EndObject();
    return out.Take();
}

void WriteInfoDocument(const std::string& path, const InfoDocument& info) { WriteTextFile(path, InfoDocumentText(info)); }

bool ReadInfoDocument(const std::string& path, InfoDocument& info, size_t* unknown) {
    info = InfoDocument();
    InfoReader reader(info, unknown);
    ReadJsonEvents(path, reader);
    return reader.SawParameters();
}

}  // namespace kavo
