// Parameter records carried from one sample of a run to the next.
#include "decode/parameter_reuse.h"

#include <cstring>

#include "base/kavo_log.h"
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
    Note(index);
    slot.written = sample_;
    // Most values are what they were a sample ago.
    if (!SameText(*slot.value, value)) *slot.value = value;
    return true;
}

void ParameterReuse::Remember(size_t index, Json::Value& record) {
    Note(index);
    Slot& slot = slots_[index];
    if (slot.value == nullptr) kept_.push_back(index);
    slot.value = &record[Json::StaticString("value")];
    slot.record = &record;
    slot.written = sample_;
    slot.typed = 0;  // a new record: no compare type yet
}

bool ParameterReuse::Written(size_t index, bool& known) const {
    const Slot& slot = slots_[index];
    known = slot.value != nullptr;
    return known && slot.written == sample_;
}

bool ParameterReuse::BeginCompare(const Json::Value& parameters, const std::string& setting, bool sameDrive,
                                  bool& typesKept) {
    const bool settled = target_ == nullptr && size_ != 0 && parameters.isObject() && parameters.size() == size_ &&
                         &*parameters.begin() == first_;
    typesKept = settled && Previous(compared_) && setting == compareSetting_ && sameDrive == compareSameDrive_;
    compareSetting_ = setting;
    compareSameDrive_ = sameDrive;
    compared_ = settled ? sample_ : 0;
    return settled;
}

const Json::Value* ParameterReuse::TypedValue(size_t index, const Json::Value* record) const {
    const Slot& slot = slots_[index];
    const bool typed = slot.value != nullptr && slot.record == record && slot.written == sample_ && Previous(slot.typed);
    return typed ? slot.value : nullptr;
}

void ParameterReuse::NoteType(size_t index) { slots_[index].typed = sample_; }

bool ParameterReuse::IndexAt(size_t position, std::string_view name, size_t& index) {
    if (position >= walk_.size()) walk_.resize(position + 1, std::string_view::npos);
    size_t& known = walk_[position];
    if (known != std::string_view::npos && ParameterName(known) == name) {
        index = known;
        return true;
    }
    if (!FindParameterIndex(name, index)) return false;
    known = index;
    return true;
}

void ParameterReuse::Note(size_t index) {
    if (decoding_ != nullptr) decoding_->records.push_back(index);
}

bool ParameterReuse::RepeatDecoding(Decoding decoding, const std::vector<uint8_t>& input, uint32_t& highest) {
    Decoded& decoded = decoded_[static_cast<size_t>(decoding)];
    bool same = target_ != nullptr && decoding_ == nullptr && Previous(decoded.sample) && decoded.input == input;
    // Every record as the last sample left it, and none written yet by this
    // sample: a later writer then wins as it would over a fresh decoding.
    for (size_t k = 0; same && k < decoded.records.size(); ++k) {
        const Slot& slot = slots_[decoded.records[k]];
        same = slot.value != nullptr && Previous(slot.written);
    }
    if (same) {
        for (size_t index : decoded.records) slots_[index].written = sample_;
        decoded.sample = sample_;
        highest = decoded.highest;
        ++repeated_;
        return true;
    }
    decoded.input = input;
    decoded.records.clear();
    decoded.sample = 0;
    decoding_ = target_ != nullptr ? &decoded : nullptr;
    return false;
}

void ParameterReuse::EndDecoding(bool finished, uint32_t highest) {
    if (decoding_ == nullptr) return;
    if (finished) {
        decoding_->highest = highest;
        decoding_->sample = sample_;
    }
    decoding_ = nullptr;
}

void ParameterReuse::Abandon() {
    target_ = nullptr;
    tActive = nullptr;
    tTarget = nullptr;
    Forget();
}

void ParameterReuse::Forget() {
    for (Decoded& decoded : decoded_) decoded.sample = 0;
    decoding_ = nullptr;
    compared_ = 0;
    for (size_t index : kept_) slots_[index].value = nullptr;
    kept_.clear();
    records_ = Json::Value();
    first_ = nullptr;
    size_ = 0;
}

RepeatableDecode::RepeatableDecode(const Json::Value& parameters, ParameterReuse::Decoding decoding,
                                   const uint8_t* bytes, size_t size, std::initializer_list<uint32_t> numbers,
                                   uint32_t& highest)
    : highest_(highest) {
    reuse_ = ParameterReuse::ActiveFor(parameters);
    if (reuse_ == nullptr || LogEnabled(Severity::Verbose)) {
        reuse_ = nullptr;
        return;
    }
    // The input as one run of bytes: the numbers, the incoming highest
    // version, then the structure.
    std::vector<uint8_t> input;
    input.reserve(size + 4 * (numbers.size() + 1));
    auto put = [&input](uint32_t number) {
        for (int shift = 0; shift < 32; shift += 8) input.push_back(static_cast<uint8_t>(number >> shift));
    };
    for (uint32_t number : numbers) put(number);
    put(highest);
    input.insert(input.end(), bytes, bytes + size);
    repeated_ = reuse_->RepeatDecoding(decoding, input, highest_);
}

RepeatableDecode::~RepeatableDecode() {
    // Cut short (an exception): nothing is kept of it.
    if (reuse_ != nullptr && !repeated_ && !finished_) reuse_->EndDecoding(false, highest_);
}

void RepeatableDecode::Finish() {
    if (reuse_ != nullptr && !repeated_ && !finished_) reuse_->EndDecoding(true, highest_);
    finished_ = true;
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
