#pragma once

#include "unitaddressing.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace casalux {

// One command seen on the power line, as the traffic signal reports it.
struct Cm11aTraffic {
    QString address;  // "A3", "B12"; a bare house letter for house-wide functions
    QString house;    // "A".."P"
    int function = 0; // X10 function code
    int percent = 0;  // Dim/Bright: the change in percent of the full range
};

// Turns the interface's upload buffers into commands. Address and function
// often come in separate uploads (two senders, or a full buffer), and a Dim's
// amount byte may be the first byte of the next upload, so the decoder keeps
// the addressed units per house and a pending dim across calls.
class Cm11aUploadDecoder final {
public:
    // `payload` is what follows the size byte: the function/address mask and
    // the data bytes (bit i of the mask set = data byte i is a function).
    QList<Cm11aTraffic> decode(const QByteArray& payload);
    void reset();

private:
    void function(int house, int function, int percent, QList<Cm11aTraffic>& out);

    UnitAddressing m_addressing;
    int m_pendingDimHouse = -1;
    int m_pendingDimFunction = 0;
    int m_extendedBytesLeft = 0; // unit, data and command bytes of an extended code
};

} // namespace casalux
