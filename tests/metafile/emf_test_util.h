#pragma once
// Helpers for looking inside EMF bytes in tests: walk the records, read fields through
// libUEMF's structs, build small files by hand.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <uemf.h>

namespace plotmint::test {

struct RecordView {
    uint32_t type;
    uint32_t size;
    size_t offset;
};

// Every record of a well-formed byte string (stops at the first impossible size).
inline std::vector<RecordView> records_of(const std::string& bytes) {
    std::vector<RecordView> out;
    size_t off = 0;
    while (off + 8 <= bytes.size()) {
        uint32_t head[2];
        std::memcpy(head, bytes.data() + off, 8);
        if (head[1] < 8 || head[1] > bytes.size() - off) break;
        out.push_back({head[0], head[1], off});
        off += head[1];
    }
    return out;
}

inline std::vector<uint32_t> types_of(const std::string& bytes) {
    std::vector<uint32_t> out;
    for (const auto& r : records_of(bytes)) out.push_back(r.type);
    return out;
}

// A copy of the record as a libUEMF struct (records are only 4-byte aligned in the string).
template <class T>
T record_as(const std::string& bytes, const RecordView& r) {
    T v{};
    std::memcpy(&v, bytes.data() + r.offset, std::min<size_t>(sizeof v, r.size));
    return v;
}

template <class T>
T field_at(const std::string& bytes, size_t offset) {
    T v{};
    std::memcpy(&v, bytes.data() + offset, sizeof v);
    return v;
}

template <class T>
void put_at(std::string& bytes, size_t offset, T v) {
    std::memcpy(bytes.data() + offset, &v, sizeof v);
}

// A record as bytes, from a libUEMF constructor's result (which is freed).
inline std::string take_record(char* rec) {
    std::string out;
    if (rec) {
        uint32_t size;
        std::memcpy(&size, rec + 4, 4);
        out.assign(rec, size);
        std::free(rec);
    }
    return out;
}

// A header for a 1920x1080, 527x296 mm display, the given records, EMR_EOF; nBytes and
// nRecords filled in.
inline std::string emf_from_records(const std::vector<std::string>& records, uint16_t handles) {
    std::string bytes = take_record(U_EMRHEADER_set(U_RECTL{0, 0, -1, -1}, U_RECTL{0, 0, 1000, 1000}, nullptr, 0,
                                                    nullptr, sizel_set(1920, 1080), sizel_set(527, 296), 0));
    for (const auto& r : records) bytes += r;
    EMFTRACK track{};
    bytes += take_record(U_EMREOF_set(0, nullptr, &track));
    put_at<uint32_t>(bytes, offsetof(U_EMRHEADER, nBytes), static_cast<uint32_t>(bytes.size()));
    put_at<uint32_t>(bytes, offsetof(U_EMRHEADER, nRecords), static_cast<uint32_t>(records.size() + 2));
    put_at<uint16_t>(bytes, offsetof(U_EMRHEADER, nHandles), handles);
    return bytes;
}

}  // namespace plotmint::test
