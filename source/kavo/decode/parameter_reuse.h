#pragma once
// Parameter records carried from one sample of a run to the next.
//
// A long run writes the same few hundred records every sample. Building each
// record's members and freeing them again costs more than the decoding:
// overwriting the value of the record already there costs one comparison.
// Records a sample does not write are removed when it settles, so every
// sample holds exactly the records it wrote, as a fresh document would.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <json/value.h>

namespace kavo {

class ParameterReuse {
public:
    // Puts the records kept from the last sample into `sample`
    // ("nvme"/"parameters"); nothing when there are none.
    void Lend(Json::Value& sample);
    // Takes the sample's records back for the next sample. The next sample's
    // compare must set every record's "compare type" again, as a run's
    // compare does: a record keeps the member it had.
    void Reclaim(Json::Value& sample);

    // While a sample writes into `parameters`: AddParameter overwrites the
    // kept records, HasParameter answers for this sample only.
    void Begin(Json::Value& parameters);
    // Removes the kept records this sample did not write; ends Begin.
    void Settle();
    // Ends Begin for a sample cut short: its records may be half written, so
    // none is kept.
    void Abandon();

    // The reuse writing into `parameters`, or nullptr.
    static ParameterReuse* ActiveFor(const Json::Value& parameters);
    // Overwrites the value of the kept record of table index `index`; false
    // when there is none.
    bool Overwrite(size_t index, const std::string& value);
    // Keeps `record`, just written for table index `index`.
    void Remember(size_t index, Json::Value& record);
    // Whether this sample wrote the record of table index `index`; false also
    // when it is not kept here (`known` tells which).
    bool Written(size_t index, bool& known) const;

private:
    struct Slot {
        Json::Value* value = nullptr;  // the record's "value" member
        uint32_t written = 0;          // the last sample that wrote it
    };
    void Forget();

    std::vector<Slot> slots_;     // by parameter table index
    std::vector<size_t> kept_;    // indices with a record
    uint32_t sample_ = 0;
    Json::Value* target_ = nullptr;
    Json::Value records_;         // between Reclaim and Lend
    // The records' object as Settle left it, to know it again at Reclaim.
    const Json::Value* first_ = nullptr;
    size_t size_ = 0;
};

// Begin for the scope of a sample's writing, with Settle at its end and
// Abandon when an error cuts it short; nothing without a reuse.
class ParameterReuseScope {
public:
    ParameterReuseScope(ParameterReuse* reuse, Json::Value& parameters);
    ~ParameterReuseScope();
    void Settle();
    ParameterReuseScope(const ParameterReuseScope&) = delete;
    ParameterReuseScope& operator=(const ParameterReuseScope&) = delete;

private:
    ParameterReuse* reuse_;
};

}  // namespace kavo
