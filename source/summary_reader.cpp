// Summaries read a record at a time, in any layout.
#include "summary_reader.h"

#include <memory>

#include "base/json_reader.h"
#include "base/kavo_errors.h"

namespace {

// Builds the summary without its long arrays: "command times" is passed
// over, and each element of the sample array of "read details" or
// "selftest details" is built alone and handed on.
class SummaryEvents : public kavo::JsonEvents {
public:
    SummaryEvents(Json::Value& document, const std::function<void(const Json::Value&)>& sample)
        : skeleton_(document), sample_(sample) {}

    void Null() override { Forward([](kavo::JsonEvents& e) { e.Null(); }); }
    void Bool(bool value) override { Forward([&](kavo::JsonEvents& e) { e.Bool(value); }); }
    void Number(std::string_view literal) override { Forward([&](kavo::JsonEvents& e) { e.Number(literal); }); }
    void String(std::string_view text) override { Forward([&](kavo::JsonEvents& e) { e.String(text); }); }
    void Key(std::string_view name) override {
        if (depth_ <= 2) key_.assign(name.data(), name.size());
        Forward([&](kavo::JsonEvents& e) { e.Key(name); });
    }
    void BeginObject() override { Begin(true); }
    void BeginArray() override { Begin(false); }
    void EndObject() override { End(true); }
    void EndArray() override { End(false); }

private:
    enum class Mode { Skeleton, Skip, Samples };

    template <typename F>
    void Forward(F f) {
        if (mode_ == Mode::Skeleton) return f(skeleton_);
        if (mode_ != Mode::Samples) return;
        if (element_) {
            f(*element_);
            Finish();
        } else if (depth_ == modeDepth_) {  // an element that is not an object
            record_ = Json::Value();
            kavo::JsonValueBuilder scalar(record_);
            f(scalar);
            sample_(record_);
        }
    }

    void Begin(bool object) {
        if (mode_ == Mode::Skeleton && depth_ == 1) parent_ = key_;
        if (mode_ == Mode::Skeleton && !object && depth_ == 1 && key_ == "command times") {
            Enter(Mode::Skip);
        } else if (mode_ == Mode::Skeleton && !object && depth_ == 2 && IsSampleArray()) {
            Enter(Mode::Samples);
        } else if (mode_ == Mode::Samples && depth_ == modeDepth_) {
            record_ = Json::Value();
            element_ = std::make_unique<kavo::JsonValueBuilder>(record_);
        }
        Forward([&](kavo::JsonEvents& e) { object ? e.BeginObject() : e.BeginArray(); });
        ++depth_;
    }

    void End(bool object) {
        --depth_;
        if (mode_ != Mode::Skeleton && depth_ + 1 == modeDepth_) {
            // The array's place in the skeleton stays, empty.
            mode_ = Mode::Skeleton;
            skeleton_.EndArray();
            return;
        }
        Forward([&](kavo::JsonEvents& e) { object ? e.EndObject() : e.EndArray(); });
    }

    void Enter(Mode mode) {
        mode_ = mode;
        modeDepth_ = depth_ + 1;
        skeleton_.BeginArray();
    }

    // An element of the sample array is complete: it goes to the caller.
    void Finish() {
        if (!element_->Done()) return;
        element_.reset();
        sample_(record_);
    }

    bool IsSampleArray() const {
        return (parent_ == "read details" && key_ == "sample") || (parent_ == "selftest details" && key_ == "status");
    }

    kavo::JsonValueBuilder skeleton_;
    const std::function<void(const Json::Value&)>& sample_;
    Mode mode_ = Mode::Skeleton;
    size_t depth_ = 0, modeDepth_ = 0;
    std::string key_, parent_;  // the member being read, and the one it stands in
    std::unique_ptr<kavo::JsonValueBuilder> element_;
    Json::Value record_;
};

}  // namespace

void ReadSummary(const std::string& path, Json::Value& document,
                 const std::function<void(const Json::Value& record)>& sample) {
    document = Json::Value();
    SummaryEvents events(document, sample);
    kavo::ReadJsonEvents(path, events);
    if (!document.isObject() || !document["_cmd"].isObject())
        throw kavo::KavoError("Not the summary of a run: '" + path + "'");
    document.removeMember("command times");
}
