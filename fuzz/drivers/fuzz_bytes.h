#pragma once
// Small helpers shared by the fuzz drivers: taking option bytes off the front of an input,
// a deterministic generator for perturbations, and a canvas that draws nothing but reads
// everything it is given, so the sanitizers see every byte the player hands over.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "metafile/emf_player.h"

namespace plotmint::fuzz {

// Takes option bytes off the front of the input; missing bytes read as 0, so every input,
// however short, is a valid one.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    // What is left, as the file's bytes.
    std::string_view rest() const {
        return pos_ < size_ ? std::string_view(reinterpret_cast<const char*>(data_) + pos_, size_ - pos_)
                            : std::string_view();
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// xorshift32: the same seed always gives the same perturbation, so a finding replays.
class Perturb {
public:
    explicit Perturb(uint32_t seed) : state_(seed * 2654435761u + 0x9E3779B9u) {
        if (state_ == 0) state_ = 1;
    }
    uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    uint32_t below(uint32_t n) { return n == 0 ? 0 : next() % n; }
    // A value a table may hold: a plain component, a marker, or something hostile.
    int32_t component() {
        switch (below(8)) {
            case 0: return -1;  // white
            case 1: return -2;  // last explicit colour
            case 2: return INT32_MIN;
            case 3: return INT32_MAX;
            case 4: return -static_cast<int32_t>(below(1000)) - 3;
            case 5: return static_cast<int32_t>(next());
            default: return static_cast<int32_t>(below(256));
        }
    }

private:
    uint32_t state_;
};

class NullCanvas final : public Canvas {
public:
    void set_pen(PenStyle style, int32_t width, uint32_t color) override {
        sink_ += static_cast<uint32_t>(style) + static_cast<uint32_t>(width) + color;
    }
    void set_brush(bool null_brush, uint32_t color) override { sink_ += color + (null_brush ? 1u : 0u); }
    void set_font(const LogFont& font) override {
        sink_ += static_cast<uint32_t>(font.height) + static_cast<uint32_t>(font.escapement);
        for (char c : font.face_name) sink_ += static_cast<unsigned char>(c);
    }
    void set_text_color(uint32_t color) override { sink_ += color; }
    void set_bk_mode(int32_t mode) override { sink_ += static_cast<uint32_t>(mode); }
    void line(Point from, Point to) override {
        sink_ += static_cast<uint32_t>(from.x) + static_cast<uint32_t>(from.y) + static_cast<uint32_t>(to.x) +
                 static_cast<uint32_t>(to.y);
    }
    void polygon(std::span<const Point> points) override {
        for (const Point& p : points) sink_ += static_cast<uint32_t>(p.x) ^ static_cast<uint32_t>(p.y);
    }
    void text(Point reference, std::u16string_view text, std::span<const int32_t> dx) override {
        sink_ += static_cast<uint32_t>(reference.x) + static_cast<uint32_t>(reference.y);
        for (char16_t c : text) sink_ += c;
        for (int32_t d : dx) sink_ += static_cast<uint32_t>(d);
        if (!dx.empty() && dx.size() != text.size()) mismatched_ = true;
    }

    uint32_t checksum() const { return sink_; }
    // Advances and characters must pair one to one whenever advances are given.
    bool mismatched() const { return mismatched_; }

private:
    uint32_t sink_ = 0;
    bool mismatched_ = false;
};

}  // namespace plotmint::fuzz
