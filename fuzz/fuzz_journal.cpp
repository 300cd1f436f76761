// Any bytes as the journal an interrupted run left: the journal reader
// either recovers a summary that reads back with every recovered sample and
// says FAIL, or refuses the journal with quellix's own error; --recover then
// sets a refused journal aside and never raises anything else. The first
// byte picks the kind of run.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/kavo_errors.h"
#include "fuzz_drive.h"
#include "run_journal.h"
#include "summary_reader.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    fuzz::QuietLogging();
    const JournalKind& kind = (data[0] & 1) != 0 ? SelfTestJournal() : ReadJournal();
    const std::string journal = fuzz::InputFile(data + 1, size - 1, kind.journalFile);
    const fs::path folder = fs::path(journal).parent_path();
    const std::string summary = (folder / "recovered.json").string();
    std::string message;
    try {
        const size_t samples = RecoverJournal(kind, journal, summary, message);
        Json::Value document;
        size_t records = 0;
        ReadSummary(summary, document, [&](const Json::Value&) { ++records; });
        if (records != samples || document["_cmd"]["result"].asString() != "FAIL") std::abort();
    } catch (const kavo::Error&) {
        // Refused: what --recover does with it.
        fuzz::InputFile(data + 1, size - 1, kind.journalFile);
        const int code = RecoverCommand(folder.string());
        if (code != kavo::kExitFailure || fs::exists(journal)) std::abort();
    }
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder)) fs::remove(entry.path(), ignored);
    return 0;
}
