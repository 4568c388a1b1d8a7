#include "Summary.h"

#include "JournalFormat.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

namespace tarnhostsim {

namespace pb = google::protobuf;

void CountNames(const pb::Message& packet, Tally& tally) {
    const pb::Descriptor* descriptor = packet.GetDescriptor();
    const pb::Reflection* reflection = packet.GetReflection();
    for (int i = 0; i < descriptor->field_count(); ++i) {
        const pb::FieldDescriptor* field = descriptor->field(i);
        if (field->cpp_type() == pb::FieldDescriptor::CPPTYPE_MESSAGE) {
            if (field->is_repeated()) {
                for (int k = 0; k < reflection->FieldSize(packet, field); ++k)
                    CountNames(reflection->GetRepeatedMessage(packet, field, k), tally);
            } else if (reflection->HasField(packet, field)) {
                CountNames(reflection->GetMessage(packet, field), tally);
            }
            continue;
        }
        if (field->cpp_type() != pb::FieldDescriptor::CPPTYPE_STRING || field->is_repeated())
            continue;
        if (field->name() == "collectionName")
            ++tally.collections[reflection->GetString(packet, field)];
        else if (field->name() == "groupName")
            ++tally.groups[reflection->GetString(packet, field)];
    }
}

namespace {

void Section(const char* title, const std::map<std::string, std::size_t>& counts, bool quoted,
             std::string& out) {
    out += title;
    out += counts.empty() ? " none\n" : "\n";
    for (const auto& [name, count] : counts) {
        out += "  ";
        if (quoted)
            AppendJsonString(name, out);
        else
            out += name;
        out += ' ';
        out += std::to_string(count);
        out += '\n';
    }
}

std::size_t Total(const std::map<std::string, std::size_t>& counts) {
    std::size_t total = 0;
    for (const auto& entry : counts)
        total += entry.second;
    return total;
}

} // namespace

std::string FormatSummary(const Tally& tally) {
    std::string out;
    out += "summary: received " + std::to_string(Total(tally.received)) + " packets, sent " +
           std::to_string(Total(tally.sent)) + " packets (heartbeats: sent " +
           std::to_string(tally.heartbeatsSent) + ", received " + std::to_string(tally.heartbeatsReceived) +
           ")\n";
    Section("received:", tally.received, false, out);
    Section("sent:", tally.sent, false, out);
    Section("collections:", tally.collections, true, out);
    Section("groups:", tally.groups, true, out);
    return out;
}

} // namespace tarnhostsim
