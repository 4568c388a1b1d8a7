#include "TarnConnection.h"

#include "calder/Archive.h"

#include <cstdint>

TarnConnection::TarnConnection(TarnInstrument* ownerInstrument)
    : TarnInstBase(1, 1), owner(ownerInstrument) {}

TarnConnection::~TarnConnection() = default;

void TarnConnection::Serialize(CArchive& ar) {
    TarnInstBase::Serialize(ar);
    // The SDK's own share of the record: one byte, reserved.
    if (ar.IsStoring()) {
        ar << std::uint8_t{0};
    } else {
        std::uint8_t reserved = 0;
        ar >> reserved;
    }
}

void TarnConnection::SaveSettings() {
    SaveSettingsNoTTS();
}

unsigned TarnConnection::LogonInstrumentType() const {
    return instrumentType;
}

std::string TarnConnection::LogonInstrumentName() const {
    return instrumentName;
}
