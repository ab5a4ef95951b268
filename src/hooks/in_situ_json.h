#pragma once

// RapidJSON's string scan uses SSE2 where the target has it (every x86-64 does).
#if defined(__SSE2__) && !defined(RAPIDJSON_SSE2)
#define RAPIDJSON_SSE2
#endif
#include <rapidjson/reader.h>

#include <memory>
#include <string>
#include <string_view>

namespace perchwell {

// A JSON text parsed in place by RapidJSON's SAX reader, so no document tree is built
// and no string is copied: handlers receive decoded strings as pointers into the text,
// valid for as long as this object lives. Numbers reach the handler as their text
// (RawNumber), so none is ever refused for its size. Header-only, so the hook role
// maps no JSON library.
//
// Accepts what a strict reader accepts: one value, UTF-8 throughout, white space
// around it; no NUL after it, no lone surrogate escapes, at most `maxDepth` levels.
// Numbers beyond the double range are reported apart (see neutraliseNumber).
class InSituJson {
public:
    static constexpr int maxDepth = 1024;
    static constexpr unsigned parseFlags =
        rapidjson::kParseInsituFlag | rapidjson::kParseNumbersAsStringsFlag;

    enum class Outcome {
        parsed,
        invalid,
        // Valid JSON whose number at errorOffset() lies beyond the double range: the
        // reader refuses those even when it hands numbers over as text.
        numberTooBig,
    };

    // Copies `text` into a padded buffer of its own.
    explicit InSituJson(std::string_view text);

    // Runs `handler` over the text, decoding it as it goes (so once only).
    template <typename Handler> Outcome parse(Handler& handler) {
        if (!utf8Valid_) {
            return Outcome::invalid;
        }
        rapidjson::InsituStringStream stream(buffer_->data());
        rapidjson::Reader reader;
        const rapidjson::ParseResult result = reader.Parse<parseFlags>(stream, handler);
        if (result.IsError()) {
            errorOffset_ = result.Offset();
            return result.Code() == rapidjson::kParseErrorNumberTooBig ? Outcome::numberTooBig
                                                                       : Outcome::invalid;
        }
        // The reader stops at the first NUL; bytes after it are not JSON.
        return stream.Tell() == size_ ? Outcome::parsed : Outcome::invalid;
    }
    size_t errorOffset() const { return errorOffset_; }

    // False for a decoded string holding a UTF-16 surrogate (from a lone \uDC00-style
    // escape); the raw text is already known to be valid UTF-8.
    static bool decodedStringValid(std::string_view decoded);

    // Overwrites the number starting at `offset` of a JSON text with "0" and spaces, so
    // a reader that refuses its size accepts the text, which means the same to anyone
    // who never reads numbers. Returns false when no number starts there.
    static bool neutraliseNumber(std::string& text, size_t offset);

private:
    std::unique_ptr<std::string> buffer_; // stable address for the handlers' views
    size_t size_ = 0;
    size_t errorOffset_ = 0;
    bool utf8Valid_ = false; // and free of bytes the reader would miss
};

// The depth bookkeeping every handler needs: a value at more than `maxDepth` levels
// (the root is level 1) fails the parse, like other strict readers.
template <typename Derived>
class InSituJsonHandler : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Derived> {
public:
    using SizeType = rapidjson::SizeType;

protected:
    bool enter() { return depth_ < InSituJson::maxDepth; }
    int depth() const { return depth_; }
    void open() { ++depth_; }
    void close() { --depth_; }

private:
    int depth_ = 0;
};

} // namespace perchwell
