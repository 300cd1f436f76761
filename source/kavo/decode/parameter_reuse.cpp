// Parameter records carried from one sample of a run to the next.
#include "decode/parameter_reuse.h"

#include <cstring>

#include "decode/parameters.h"

namespace kavo {
namespace {

// Decoding runs on one thread at a time; the reuse in effect is that
// thread's.
thread_local ParameterReuse* tActive = nullptr;
thread_local const Json::Value* tTarget = nullptr;

bool SameText(const Json::Value& value, const std::string& text) {
    const char* begin = nullptr;
    const char* end = nullptr;
    if (!value.isString() || !value.getString(&begin, &end)) return false;
    const size_t size = static_cast<size_t>(end - begin);
    return size == text.size() && std::memcmp(begin, text.data(), size) == 0;
}

}  // namespace

void ParameterReuse::Lend(Json::Value& sample) {
    if (records_.isNull()) return;
    Json::Value& parameters = sample["nvme"]["parameters"];
    if (parameters.isNull()) {
        parameters.swap(records_);
    } else {
        Forget();  // the sample brought its own records
    }
    records_ = Json::Value();
}

void ParameterReuse::Reclaim(Json::Value& sample) {
    // Looked up without adding members to the sample.
    Json::Value* parameters = nullptr;
    if (sample.isObject() && sample.isMember("nvme") && sample["nvme"].isObject() && sample["nvme"].isMember("parameters"))
        parameters = &sample["nvme"]["parameters"];
    // Only the object this reuse settled, holding no record but the ones it
    // wrote, is known record by record.
    const bool known = parameters != nullptr && parameters->isObject() && parameters->size() == size_ &&
                       size_ == kept_.size() && size_ != 0 && &*parameters->begin() == first_;
    if (!known) {
        Forget();
        return;
    }
    records_.swap(*parameters);
}

void ParameterReuse::Begin(Json::Value& parameters) {
    if (slots_.empty()) slots_.resize(ParameterCount());
    // Kept records count only in the object they were lent to.
    if (!kept_.empty() && !(parameters.isObject() && parameters.size() == size_ && &*parameters.begin() == first_))
        Forget();
    ++sample_;
    target_ = &parameters;
    tActive = this;
    tTarget = &parameters;
}

void ParameterReuse::Settle() {
    if (target_ == nullptr) return;
    size_t still = 0;
    for (size_t index : kept_) {
        Slot& slot = slots_[index];
        if (slot.written == sample_) {
            kept_[still++] = index;
            continue;
        }
        target_->removeMember(ParameterName(index).data());
        slot.value = nullptr;
    }
    kept_.resize(still);
    size_ = target_->isObject() ? target_->size() : 0;
    first_ = size_ != 0 ? &*target_->begin() : nullptr;
    target_ = nullptr;
    tActive = nullptr;
    tTarget = nullptr;
}

ParameterReuse* ParameterReuse::ActiveFor(const Json::Value& parameters) {
    return tTarget == &parameters ? tActive : nullptr;
}

bool ParameterReuse::Overwrite(size_t index, const std::string& value) {
    Slot& slot = slots_[index];
    if (slot.value == nullptr) return false;
    slot.written = sample_;
    // Most values are what they were a sample ago.
    if (!SameText(*slot.value, value)) *slot.value = value;
    return true;
}

void ParameterReuse::Remember(size_t index, Json::Value& record) {
    Slot& slot = slots_[index];
    if (slot.value == nullptr) kept_.push_back(index);
    slot.value = &record[Json::StaticString("value")];
    slot.written = sample_;
}

bool ParameterReuse::Written(size_t index, bool& known) const {
    const Slot& slot = slots_[index];
    known = slot.value != nullptr;
    return known && slot.written == sample_;
}

void ParameterReuse::Abandon() {
    target_ = nullptr;
    tActive = nullptr;
    tTarget = nullptr;
    Forget();
}

void ParameterReuse::Forget() {
    for (size_t index : kept_) slots_[index].value = nullptr;
    kept_.clear();
    records_ = Json::Value();
    first_ = nullptr;
    size_ = 0;
}

ParameterReuseScope::ParameterReuseScope(ParameterReuse* reuse, Json::Value& parameters) : reuse_(reuse) {
    if (reuse_ != nullptr) reuse_->Begin(parameters);
}

ParameterReuseScope::~ParameterReuseScope() {
    if (reuse_ == nullptr) return;
    reuse_->Abandon();
}

void ParameterReuseScope::Settle() {
    if (reuse_ != nullptr) reuse_->Settle();
    reuse_ = nullptr;
}

}  // namespace kavo
