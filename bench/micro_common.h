// micro_common.h - shared set-up of the micro-benchmarks
#pragma once

#include <memory>
#include <string>

#include "vtq/zozaz.h"

namespace vtq::bench {

// Pseudo-English text of size bytes (valid UTF-8, deflates about 3.5:1).
std::string Text(size_t size, uint64_t seed = 1);

// A context as the entry points leave it for a compose-mode call with
// these options; the record lives on the heap (it is large).
std::unique_ptr<ZipBus> ComposeBus(const TxtOptions *opts);

// A path for a scratch file of this process, removed on destruction.
class ScratchFile {
public:
    explicit ScratchFile(const std::string &tag);
    ~ScratchFile();
    ScratchFile(const ScratchFile &) = delete;
    ScratchFile &operator=(const ScratchFile &) = delete;
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

} // namespace vtq::bench
