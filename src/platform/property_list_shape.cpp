#include "platform/property_list_shape.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace mivora::platform {

namespace {

// --- binary form -------------------------------------------------------------

class BinaryShape {
public:
    explicit BinaryShape(std::string_view bytes) : bytes_(bytes) {}

    bool check() {
        if (!readTrailer()) return false;
        depth_.assign(objectCount_, 0);
        weight_.assign(objectCount_, 0);
        return walk(topObject_);
    }

private:
    static constexpr size_t kHeaderSize = 8;
    static constexpr size_t kTrailerSize = 32;
    static constexpr uint16_t kInProgress = UINT16_MAX;

    uint64_t bigEndian(size_t at, size_t width) const {
        uint64_t value = 0;
        for (size_t i = 0; i < width; ++i)
            value = value << 8 | static_cast<unsigned char>(bytes_[at + i]);
        return value;
    }

    bool readTrailer() {
        if (bytes_.size() < kHeaderSize + kTrailerSize + 1) return false;
        size_t trailer = bytes_.size() - kTrailerSize;
        offsetSize_ = static_cast<unsigned char>(bytes_[trailer + 6]);
        refSize_ = static_cast<unsigned char>(bytes_[trailer + 7]);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return false;
        uint64_t objects = bigEndian(trailer + 8, 8);
        uint64_t top = bigEndian(trailer + 16, 8);
        uint64_t table = bigEndian(trailer + 24, 8);
        // Every object takes at least one byte of its own and one entry of the table.
        if (objects == 0 || objects > trailer || top >= objects) return false;
        if (table < kHeaderSize || table > trailer || (trailer - table) / offsetSize_ < objects) return false;
        objectCount_ = static_cast<size_t>(objects);
        topObject_ = static_cast<size_t>(top);
        tableOffset_ = static_cast<size_t>(table);
        // Shared references unfold into copies; a legitimate file shares only small values.
        maxWeight_ = std::min<uint64_t>(UINT32_MAX - 1, std::max<uint64_t>(1'000'000, objects * 4));
        return true;
    }

    // The references held by the container `object`: where they start and how many.
    // False when the object is malformed; count 0 for values that hold none.
    bool references(size_t object, size_t& start, uint64_t& count) const {
        uint64_t offset = bigEndian(tableOffset_ + object * offsetSize_, offsetSize_);
        if (offset < kHeaderSize || offset >= tableOffset_) return false;
        auto marker = static_cast<unsigned char>(bytes_[offset]);
        unsigned kind = marker >> 4;
        count = 0;
        if (kind != 0xA && kind != 0xC && kind != 0xD) return true;
        start = static_cast<size_t>(offset) + 1;
        count = marker & 0x0F;
        if (count == 0x0F) {
            // The count follows as an integer object of 1, 2, 4 or 8 bytes.
            if (start >= tableOffset_) return false;
            auto intMarker = static_cast<unsigned char>(bytes_[start]);
            if (intMarker >> 4 != 0x1 || (intMarker & 0x0F) > 3) return false;
            size_t width = size_t{1} << (intMarker & 0x0F);
            if (tableOffset_ - start - 1 < width) return false;
            count = bigEndian(start + 1, width);
            start += 1 + width;
        }
        if (kind == 0xD) {
            if (count > UINT64_MAX / 2) return false;
            count *= 2;
        }
        if (start > tableOffset_ || (tableOffset_ - start) / refSize_ < count) return false;
        return true;
    }

    size_t reference(size_t start, uint64_t index) const {
        return static_cast<size_t>(bigEndian(start + static_cast<size_t>(index) * refSize_, refSize_));
    }

    // Depth-first over the object graph with an explicit stack, each object once.
    bool walk(size_t root) {
        struct Frame {
            size_t object;
            size_t start;
            uint64_t count;
            uint64_t next;
        };
        std::vector<Frame> stack;
        auto enter = [&](size_t object) {
            Frame frame{object, 0, 0, 0};
            if (!references(object, frame.start, frame.count)) return false;
            depth_[object] = kInProgress;
            stack.push_back(frame);
            return stack.size() <= kMaxPropertyListNesting;
        };
        if (!enter(root)) return false;
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.next < frame.count) {
                size_t child = reference(frame.start, frame.next++);
                if (child >= objectCount_) return false;
                if (depth_[child] == kInProgress) return false; // contains itself
                if (depth_[child] == 0 && !enter(child)) return false;
                continue;
            }
            // All children are done: this object's depth and unfolded size.
            uint16_t depth = 1;
            uint64_t weight = 1;
            for (uint64_t i = 0; i < frame.count; ++i) {
                size_t child = reference(frame.start, i);
                depth = std::max<uint16_t>(depth, static_cast<uint16_t>(depth_[child] + 1));
                weight = std::min(maxWeight_ + 1, weight + weight_[child]);
            }
            if (depth > kMaxPropertyListNesting || weight > maxWeight_) return false;
            depth_[frame.object] = depth;
            weight_[frame.object] = static_cast<uint32_t>(weight);
            stack.pop_back();
        }
        return true;
    }

    std::string_view bytes_;
    size_t offsetSize_ = 0, refSize_ = 0;
    size_t objectCount_ = 0, topObject_ = 0, tableOffset_ = 0;
    uint64_t maxWeight_ = 0;
    std::vector<uint16_t> depth_;  // 0: not seen yet
    std::vector<uint32_t> weight_; // objects in the unfolded tree below and including it
};

// --- XML form ----------------------------------------------------------------

bool xmlNestingWithinLimit(std::string_view text) {
    size_t depth = 0;
    size_t at = 0;
    auto skipPast = [&](std::string_view end) {
        size_t found = text.find(end, at);
        at = found == std::string_view::npos ? text.size() : found + end.size();
    };
    while ((at = text.find('<', at)) != std::string_view::npos) {
        std::string_view rest = text.substr(at);
        if (rest.starts_with("<!--")) {
            skipPast("-->");
        } else if (rest.starts_with("<![CDATA[")) {
            skipPast("]]>");
        } else if (rest.starts_with("<?")) {
            skipPast("?>");
        } else if (rest.starts_with("<!")) {
            skipPast(">");
        } else if (rest.starts_with("</")) {
            if (depth > 0) --depth;
            skipPast(">");
        } else {
            // A start tag; a ">" inside a quoted attribute value does not end it.
            char quote = 0;
            size_t end = at + 1;
            for (; end < text.size(); ++end) {
                char c = text[end];
                if (quote) {
                    if (c == quote) quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '>') {
                    break;
                }
            }
            if (end >= text.size()) return true; // unterminated: the parser refuses it
            if (text[end - 1] != '/' && ++depth > kMaxPropertyListNesting + 1) return false; // + <plist>
            at = end + 1;
        }
    }
    return true;
}

} // namespace

bool hasParsableShape(std::string_view bytes) {
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), "bplist00", 8) == 0) return BinaryShape(bytes).check();
    return xmlNestingWithinLimit(bytes);
}

} // namespace mivora::platform
