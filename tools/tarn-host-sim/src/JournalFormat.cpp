#include "JournalFormat.h"

#include "host_link.pb.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

#include <charconv>
#include <cmath>
#include <cstdio>

namespace tarnhostsim {

namespace pb = google::protobuf;

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence starting at `text[i]`, 0 when it is not valid
// (overlong forms, surrogates and code points above U+10FFFF included).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b0 = byte(i);
    std::size_t length = 0;
    unsigned min = 0;
    unsigned code = 0;
    if (b0 < 0x80) {
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        length = 2, min = 0x80, code = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3, min = 0x800, code = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4, min = 0x10000, code = b0 & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

void AppendInteger(auto value, std::string& out) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void AppendFloat(float value, std::string& out) {
    if (!std::isfinite(value)) {
        AppendJsonDouble(static_cast<double>(value), out);
        return;
    }
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

class Writer {
public:
    explicit Writer(std::string& out) : out_(out) {}

    // Writes ,"name":value for every field of `message`, in declaration order.
    void Fields(const pb::Message& message) {
        const pb::Descriptor* descriptor = message.GetDescriptor();
        const pb::Reflection* reflection = message.GetReflection();
        for (int i = 0; i < descriptor->field_count(); ++i) {
            const pb::FieldDescriptor* field = descriptor->field(i);
            // Of a oneof only the member in use exists; the others are not defaults of it.
            if (field->real_containing_oneof() && !reflection->HasField(message, field))
                continue;
            out_ += ',';
            AppendJsonString(field->name(), out_);
            out_ += ':';
            Field(message, field);
        }
    }

private:
    void Field(const pb::Message& message, const pb::FieldDescriptor* field) {
        const pb::Reflection* reflection = message.GetReflection();
        if (!field->is_repeated()) {
            Value(message, field, -1);
            return;
        }
        const int count = reflection->FieldSize(message, field);
        if (IsPackedPoints(field)) {
            // x, y, z of each point in turn: written as one [x,y,z] per point.
            out_ += '[';
            for (int i = 0; i < count; i += 3) {
                if (i)
                    out_ += ',';
                out_ += '[';
                for (int k = i; k < count && k < i + 3; ++k) {
                    if (k > i)
                        out_ += ',';
                    AppendJsonDouble(reflection->GetRepeatedDouble(message, field, k), out_);
                }
                out_ += ']';
            }
            out_ += ']';
            return;
        }
        out_ += '[';
        for (int i = 0; i < count; ++i) {
            if (i)
                out_ += ',';
            Value(message, field, i);
        }
        out_ += ']';
    }

    static bool IsPackedPoints(const pb::FieldDescriptor* field) {
        return field->is_repeated() && field->cpp_type() == pb::FieldDescriptor::CPPTYPE_DOUBLE &&
               field->name() == "points";
    }

    // One value of `field`: the singular value when index < 0, else element `index`.
    void Value(const pb::Message& message, const pb::FieldDescriptor* field, int index) {
        const pb::Reflection* r = message.GetReflection();
        const bool one = index < 0;
        switch (field->cpp_type()) {
        case pb::FieldDescriptor::CPPTYPE_INT32:
            AppendInteger(one ? r->GetInt32(message, field) : r->GetRepeatedInt32(message, field, index),
                          out_);
            break;
        case pb::FieldDescriptor::CPPTYPE_INT64:
            AppendInteger(one ? r->GetInt64(message, field) : r->GetRepeatedInt64(message, field, index),
                          out_);
            break;
        case pb::FieldDescriptor::CPPTYPE_UINT32:
            AppendInteger(one ? r->GetUInt32(message, field) : r->GetRepeatedUInt32(message, field, index),
                          out_);
            break;
        case pb::FieldDescriptor::CPPTYPE_UINT64:
            AppendInteger(one ? r->GetUInt64(message, field) : r->GetRepeatedUInt64(message, field, index),
                          out_);
            break;
        case pb::FieldDescriptor::CPPTYPE_DOUBLE:
            AppendJsonDouble(one ? r->GetDouble(message, field) : r->GetRepeatedDouble(message, field, index),
                             out_);
            break;
        case pb::FieldDescriptor::CPPTYPE_FLOAT:
            AppendFloat(one ? r->GetFloat(message, field) : r->GetRepeatedFloat(message, field, index), out_);
            break;
        case pb::FieldDescriptor::CPPTYPE_BOOL:
            out_ += (one ? r->GetBool(message, field) : r->GetRepeatedBool(message, field, index)) ? "true"
                                                                                                   : "false";
            break;
        case pb::FieldDescriptor::CPPTYPE_ENUM:
            AppendInteger(
                one ? r->GetEnumValue(message, field) : r->GetRepeatedEnumValue(message, field, index), out_);
            break;
        case pb::FieldDescriptor::CPPTYPE_STRING: {
            std::string scratch;
            const std::string& text = one ? r->GetStringReference(message, field, &scratch)
                                          : r->GetRepeatedStringReference(message, field, index, &scratch);
            AppendJsonString(text, out_);
            break;
        }
        case pb::FieldDescriptor::CPPTYPE_MESSAGE:
            Nested(one ? r->GetMessage(message, field) : r->GetRepeatedMessage(message, field, index));
            break;
        }
    }

    // A nested record: vectors and transforms as plain arrays, a wrapper whose only content is
    // one oneof (MeasData) as the record it holds, anything else as an object with its type.
    void Nested(const pb::Message& message) {
        const pb::Descriptor* descriptor = message.GetDescriptor();
        const pb::Reflection* reflection = message.GetReflection();
        if (descriptor == calder::Vec3::descriptor()) {
            const auto& v = static_cast<const calder::Vec3&>(message);
            out_ += '[';
            AppendJsonDouble(v.x(), out_);
            out_ += ',';
            AppendJsonDouble(v.y(), out_);
            out_ += ',';
            AppendJsonDouble(v.z(), out_);
            out_ += ']';
            return;
        }
        if (descriptor == calder::Matrix16::descriptor()) {
            const auto& m = static_cast<const calder::Matrix16&>(message);
            out_ += '[';
            for (int i = 0; i < m.m_size(); ++i) {
                if (i)
                    out_ += ',';
                AppendJsonDouble(m.m(i), out_);
            }
            out_ += ']';
            return;
        }
        if (IsWrapper(descriptor)) {
            const pb::FieldDescriptor* held =
                reflection->GetOneofFieldDescriptor(message, descriptor->oneof_decl(0));
            if (!held) {
                out_ += "null";
                return;
            }
            Nested(reflection->GetMessage(message, held));
            return;
        }
        out_ += "{\"type\":";
        AppendJsonString(descriptor->name(), out_);
        Fields(message);
        out_ += '}';
    }

    static bool IsWrapper(const pb::Descriptor* descriptor) {
        if (descriptor->oneof_decl_count() != 1 || descriptor->field_count() == 0)
            return false;
        const pb::OneofDescriptor* oneof = descriptor->oneof_decl(0);
        if (oneof->field_count() != descriptor->field_count())
            return false;
        for (int i = 0; i < oneof->field_count(); ++i) {
            if (oneof->field(i)->cpp_type() != pb::FieldDescriptor::CPPTYPE_MESSAGE)
                return false;
        }
        return true;
    }

    std::string& out_;
};

} // namespace

void AppendJsonString(std::string_view text, std::string& out) {
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t length = Utf8SequenceLength(text, i);
            if (length == 0) {
                out += kReplacement;
                ++i;
            } else {
                out.append(text.substr(i, length));
                i += length;
            }
            continue;
        }
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                out += buffer;
            } else {
                out += static_cast<char>(c);
            }
        }
        ++i;
    }
    out += '"';
}

void AppendJsonDouble(double value, std::string& out) {
    if (std::isnan(value)) {
        out += "\"nan\"";
        return;
    }
    if (std::isinf(value)) {
        out += value > 0 ? "\"inf\"" : "\"-inf\"";
        return;
    }
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

const pb::Message* PacketOf(const calder::HostFrame& frame) {
    const pb::Descriptor* descriptor = frame.GetDescriptor();
    const pb::OneofDescriptor* packet = descriptor->FindOneofByName("packet");
    const pb::FieldDescriptor* field = frame.GetReflection()->GetOneofFieldDescriptor(frame, packet);
    if (!field)
        return nullptr;
    return &frame.GetReflection()->GetMessage(frame, field);
}

std::string PacketType(const calder::HostFrame& frame) {
    const pb::Message* packet = PacketOf(frame);
    return packet ? packet->GetDescriptor()->name() : std::string("Unknown");
}

std::string JournalLine(std::string_view dir, std::uint64_t batch, std::size_t link,
                        const calder::HostFrame& frame) {
    std::string out;
    out += "{\"dir\":";
    AppendJsonString(dir, out);
    out += ",\"batch\":";
    AppendInteger(batch, out);
    out += ",\"type\":";
    AppendJsonString(PacketType(frame), out);
    out += ",\"link\":";
    AppendInteger(link, out);
    if (const pb::Message* packet = PacketOf(frame))
        Writer(out).Fields(*packet);
    out += '}';
    return out;
}

} // namespace tarnhostsim
