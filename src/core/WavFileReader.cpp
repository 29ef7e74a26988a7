#include "core/WavFileReader.h"

#include "core/AtomicFile.h"
#include "core/WavDecoder.h"

namespace quorvel {

WavFile readWavFile(const std::filesystem::path& path) {
    using Status = files::ReadResult::Status;
    files::ReadResult read = files::readLimited(path, kMaxWavFileBytes);
    if (read.status == Status::Missing) return {std::nullopt, "no such file"};
    if (read.status != Status::Read) return {std::nullopt, read.reason};
    auto samples = decodeWav(read.bytes);
    if (!samples) return {std::nullopt, "not a 16-bit PCM WAV file"};
    return {std::move(samples), {}};
}

}  // namespace quorvel
