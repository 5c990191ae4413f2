#pragma once
// Checks a picture while it is being written, from the file it is written to: a thread of
// its own reads the FileSink's temporary by descriptor a window behind what the writer has
// handed to the system, and makes every check of a record that does not wait for the header
// patched at close. Once the writer has closed, only the last window and the final header
// are left: the object table's size, the record count, nBytes against the file's size and
// EMR_EOF last are settled from what the stream gathered. The answer is always the one
// validate_emf_descriptor (or read_emf_descriptor, keeping the bytes) gives for the file as
// it is then: whenever the stream found anything amiss or could not follow the file to the
// end, those full checks run on the same descriptor and their answer is the result.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "metafile/emf_reader.h"

namespace plotmint {

class FileSink;
class Worker;

class EmfFollower {
public:
    // Opens `file`'s temporary (just made, nothing written yet) and follows it on `worker`,
    // which must run its jobs beside the caller and is used for nothing else meanwhile.
    // With `keep_bytes` the result keeps the picture's bytes, as read_emf_descriptor's does.
    EmfFollower(FileSink& file, Worker& worker, bool keep_bytes);
    // Stops following (a run that ends without a picture) and closes the descriptor.
    ~EmfFollower();
    EmfFollower(const EmfFollower&) = delete;
    EmfFollower& operator=(const EmfFollower&) = delete;

    // Whether the temporary was opened: without it there is nothing to follow.
    bool following() const { return fd_ >= 0; }
    // Whether the temporary's name still leads to the file followed. To be asked before the
    // commit renames it: a file put in its place meanwhile would be renamed into place
    // instead of the one read.
    bool still_named() const;
    // Once the writer has closed (every byte handed to the system, the header patched):
    // the picture as the full checks would give it for the file followed, or nullopt with
    // their reason. `name` is what the messages call the file. Once only.
    std::optional<EmfPicture> result(const std::string& name, std::string& error);
    // Whether result() came from the stream alone, without the full checks (tests).
    bool streamed() const { return streamed_; }

private:
    void follow();
    bool have(uint64_t offset, uint64_t size);

    FileSink& file_;
    Worker& worker_;
    const bool keep_bytes_;
    int fd_ = -1;
    bool started_ = false;
    bool streamed_ = false;

    std::mutex mutex_;
    std::condition_variable more_;
    bool closed_ = false;     // the writer has closed: no more bytes will come
    bool cancelled_ = false;  // the run ends without a picture

    // Touched by the following job only, and by result() once it has ended.
    std::vector<char> window_;
    uint64_t window_start_ = 0, window_end_ = 0;  // file offsets of what the window holds
    std::string bytes_;                            // with keep_bytes: every byte read, in order
    uint32_t header_size_ = 0;                     // the header's nSize as first read
    uint64_t end_ = 0;                             // just past EMR_EOF, once reached
    uint32_t records_ = 0;                         // the header and the records up to EMR_EOF
    uint32_t highest_object_ = 0;                  // the highest object table slot named
    bool reached_eof_ = false;                     // every record to EMR_EOF passed its checks
};

}  // namespace plotmint
