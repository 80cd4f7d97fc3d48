// A NUL-terminated byte string of fixed capacity, for the tool's bounded text buffers.
// It never writes past its array: text beyond the capacity is dropped, and the caller that must
// not split a double-byte character cuts at a character boundary first (see cutAtCharBoundary).
#pragma once

#include <cstddef>
#include <cstring>

// Tells whether a byte opens a two-byte character in the ANSI code page of the text.
using LeadBytePredicate = bool (*)(unsigned char byte);

// The longest prefix of text[0, size) of at most limit bytes that ends on a character boundary.
// Boundaries are found from the start, since a trail byte can look like a lead byte.
inline std::size_t cutAtCharBoundary(const char* text, std::size_t size, std::size_t limit,
                                     LeadBytePredicate isLeadByte) {
    std::size_t end = 0;
    while (end < size) {
        std::size_t step =
            (isLeadByte(static_cast<unsigned char>(text[end])) && end + 1 < size) ? 2 : 1;
        if (end + step > limit)
            break;
        end += step;
    }
    return end;
}

template <std::size_t Capacity>
class FixedText {
    static_assert(Capacity > 0, "room for the terminating zero");

  public:
    static constexpr std::size_t maxSize = Capacity - 1;

    FixedText() { clear(); }

    void clear() {
        size_ = 0;
        bytes_[0] = '\0';
    }

    // Replaces the content; returns false when the text was cut to fit.
    bool assign(const char* text, std::size_t size) {
        clear();
        return append(text, size);
    }
    bool assign(const char* text) { return assign(text, std::strlen(text)); }

    // Appends what fits; returns false when the text was cut to fit.
    bool append(const char* text, std::size_t size) {
        std::size_t room = maxSize - size_;
        std::size_t taken = size < room ? size : room;
        std::memcpy(bytes_ + size_, text, taken);
        size_ += taken;
        bytes_[size_] = '\0';
        return taken == size;
    }
    bool append(const char* text) { return append(text, std::strlen(text)); }
    bool push(char byte) { return append(&byte, 1); }

    // Shortens to newSize bytes (no effect when it is already shorter).
    void truncate(std::size_t newSize) {
        if (newSize < size_) {
            size_ = newSize;
            bytes_[size_] = '\0';
        }
    }

    // For filling by an API that writes a terminated string: call with the capacity, then
    // setSize with what it wrote.
    char* buffer() { return bytes_; }
    void setSize(std::size_t size) {
        size_ = size < maxSize ? size : maxSize;
        bytes_[size_] = '\0';
    }

    const char* c_str() const { return bytes_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    bool equals(const char* text) const {
        return std::strlen(text) == size_ && std::memcmp(bytes_, text, size_) == 0;
    }

  private:
    char bytes_[Capacity];
    std::size_t size_;
};
