#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "pelmar/live/BitstreamReader.h"
#include "pelmar/live/BitstreamWriter.h"

// AMFValue: the base of the AMF0 value model (number, boolean, string, object, null, ECMA array)
// that RTMP commands and FLV metadata are built from: encoding, decoding from the type marker, and
// a readable text form for logs.
// Ownership: values are created by the static factories and held through std::shared_ptr;
//            containers own their members through the same pointers.
// Threads: thread-compatible; a value tree is built by one thread and then handed over.
// Errors: std::runtime_error: "unknown AMF type" (unsupported marker), "empty name found without
//         end object marker", "AMF data truncated" (input ends inside a value), "AMF nesting too
//         deep" (more than kMaxNestingDepth containers inside each other, on reading, writing and
//         printing), "AMF string too long" (writing a string or member name over kMaxStringLength
//         bytes). A failed write may leave a partial encoding in the writer's vector.
// Limits: kMaxNestingDepth nested containers; strings and names of kMaxStringLength bytes.

namespace pelmar::live {

// AMF0 type markers of the supported values; the undefined marker (6) reads as Null.
enum class AMFType : int {
    Number = 0,
    Boolean = 1,
    String = 2,
    Object = 3,
    Null = 5,
    EcmaArray = 8,
};

class AMFValue {
public:
    static constexpr size_t kMaxStringLength = 0xFFFF;
    static constexpr int kMaxNestingDepth = 64;

    virtual ~AMFValue() = default;

    // Decodes the value's body; the type marker has already been read.
    virtual void ReadImpl(BitstreamReader& reader) = 0;

    // Writes the complete encoding: type marker, then body.
    virtual void WriteImpl(BitstreamWriter& writer) const = 0;

    virtual AMFType GetTypeImpl() const = 0;

    // "NUMBER: 1.000000", "BOOL: true", "STRING: text", "NULL", "OBJECT: {\n...}", "ARRAY:
    // {\n...}".
    virtual std::string ToStringImpl() const = 0;

    static std::shared_ptr<AMFValue> String(std::string value);

    static std::shared_ptr<AMFValue> Bool(bool value);

    static std::shared_ptr<AMFValue> Number(double value);

    static std::shared_ptr<AMFValue> Object();

    static std::shared_ptr<AMFValue> Array();

    static std::shared_ptr<AMFValue> Null();

    // Reads one complete value, marker included.
    static std::shared_ptr<AMFValue> ReadValue(BitstreamReader& reader);

protected:
    AMFValue() = default;
    AMFValue(const AMFValue&) = default;
    AMFValue& operator=(const AMFValue&) = default;

    // Throws "AMF data truncated" unless `count` more bytes are there.
    static void RequireBytes(const BitstreamReader& reader, size_t count);

    // A 16-bit length followed by that many bytes.
    static std::string ReadShortString(BitstreamReader& reader);

    static void WriteShortString(BitstreamWriter& writer, const std::string& text);
};

}  // namespace pelmar::live
