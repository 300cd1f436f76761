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
#include <initializer_list>
#include <string>
#include <string_view>
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

    // Decodings whose records depend on their input alone (RepeatableDecode).
    enum class Decoding { IdentifyController, IdentifyNamespace, Count };
    // True when `decoding` ran to its end the sample before on this same
    // input and its records are still kept as it left them: they count as
    // written again, `highest` becomes what it left, and the caller skips
    // the decoding. Otherwise the records written until EndDecoding are
    // noted for the next sample.
    bool RepeatDecoding(Decoding decoding, const std::vector<uint8_t>& input, uint32_t& highest);
    // The decoding begun by RepeatDecoding ran to its end (`finished`), with
    // `highest` as it left it; or it did not, and nothing is kept of it.
    void EndDecoding(bool finished, uint32_t highest);
    // How many decodings were skipped so far (tests).
    size_t RepeatedDecodings() const { return repeated_; }

    // The compare of a long run's samples. A record kept from the last
    // sample still holds the "compare type" member that sample's compare
    // set; under the same setting and drive it is the type again, and the
    // compare need not work it out.
    // Whether `parameters` are the records this reuse settled (then the
    // compare notes the types it sets), and `typesKept`: the last sample's
    // compare set its types under this setting and drive.
    bool BeginCompare(const Json::Value& parameters, const std::string& setting, bool sameDrive, bool& typesKept);
    // The "value" member of `record`, the kept record of `index`, when it got
    // its compare type from the last sample's compare; nullptr otherwise.
    const Json::Value* TypedValue(size_t index, const Json::Value* record) const;
    // This sample's compare set the compare type of the record of `index`.
    void NoteType(size_t index);
    // The table index of the record named `name`, the `position`th record
    // of the compare's walk (FindParameterIndex). A long run's samples hold
    // the same records in the same order, so the index found for a position
    // is checked against the name instead of being looked up again.
    bool IndexAt(size_t position, std::string_view name, size_t& index);

private:
    struct Slot {
        Json::Value* value = nullptr;  // the record's "value" member
        const Json::Value* record = nullptr;
        uint32_t written = 0;          // the last sample that wrote it
        uint32_t typed = 0;            // the last sample whose compare set its type
    };
    struct Decoded {
        std::vector<uint8_t> input;
        std::vector<size_t> records;  // table indices, as written
        uint32_t highest = 0;
        uint32_t sample = 0;          // the sample that decoded it; 0 none
    };
    void Forget();
    void Note(size_t index);
    // Whether `sample` is the one before this (0 stands for none).
    bool Previous(uint32_t sample) const { return sample != 0 && sample + 1 == sample_; }

    std::vector<Slot> slots_;     // by parameter table index
    std::vector<size_t> kept_;    // indices with a record
    std::vector<size_t> walk_;    // IndexAt: table index by position; npos unknown
    uint32_t sample_ = 0;
    Json::Value* target_ = nullptr;
    Json::Value records_;         // between Reclaim and Lend
    // The records' object as Settle left it, to know it again at Reclaim.
    const Json::Value* first_ = nullptr;
    size_t size_ = 0;
    Decoded decoded_[static_cast<size_t>(Decoding::Count)];
    Decoded* decoding_ = nullptr;  // the decoding whose records are noted
    size_t repeated_ = 0;
    std::string compareSetting_;   // the setting and drive of the last compare
    bool compareSameDrive_ = false;
    uint32_t compared_ = 0;        // the sample of the last compare
};

// A decoding whose records depend on its input alone: the structure's bytes
// and the numbers given with them. Within a long run, an input equal to the
// last sample's keeps that sample's records instead of decoding again (an
// Identify structure hardly ever changes). Without a reuse, or at verbose
// logging (which shows every record as it is added), it always decodes.
class RepeatableDecode {
public:
    RepeatableDecode(const Json::Value& parameters, ParameterReuse::Decoding decoding, const uint8_t* bytes,
                     size_t size, std::initializer_list<uint32_t> numbers, uint32_t& highest);
    ~RepeatableDecode();
    // True when the records are kept from the last sample: skip the decoding.
    bool Repeated() const { return repeated_; }
    // The decoding ran to its end (`highest` as it left it); records written
    // after this are not part of it.
    void Finish();
    RepeatableDecode(const RepeatableDecode&) = delete;
    RepeatableDecode& operator=(const RepeatableDecode&) = delete;

private:
    ParameterReuse* reuse_ = nullptr;
    uint32_t& highest_;
    bool repeated_ = false;
    bool finished_ = false;
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
