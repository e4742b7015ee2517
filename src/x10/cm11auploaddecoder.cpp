#include "cm11auploaddecoder.h"

#include "cm11aprotocol.h"

#include <utility>

namespace casalux {

QList<Cm11aTraffic> Cm11aUploadDecoder::decode(const QByteArray& payload)
{
    QList<Cm11aTraffic> out;
    if (payload.isEmpty())
        return out;
    const auto mask = static_cast<quint8>(payload[0]);
    for (int i = 1; i < payload.size(); ++i) {
        const auto byte = static_cast<quint8>(payload[i]);
        if (m_pendingDimHouse >= 0) {
            // The amount byte follows its Dim/Bright whatever the mask says.
            const int house = std::exchange(m_pendingDimHouse, -1);
            function(house, m_pendingDimFunction, Cm11aProtocol::percentFromDims(byte), out);
            continue;
        }
        if (m_extendedBytesLeft > 0) {
            --m_extendedBytesLeft;
            continue;
        }
        const int house = Cm11aProtocol::houseFromNibble(byte >> 4);
        const bool isFunction = i - 1 < 8 && (mask & (1u << (i - 1))) != 0;
        if (!isFunction) {
            m_addressing.address(house, Cm11aProtocol::unitFromNibble(byte & 0x0F));
            continue;
        }
        const int code = byte & 0x0F;
        if (Cm11aProtocol::takesDimAmount(code)) {
            m_pendingDimHouse = house;
            m_pendingDimFunction = code;
        } else if (code == Cm11aProtocol::Extended) {
            m_extendedBytesLeft = 3;
        } else {
            function(house, code, 0, out);
        }
    }
    return out;
}

void Cm11aUploadDecoder::reset()
{
    m_addressing.clear();
    m_pendingDimHouse = -1;
    m_extendedBytesLeft = 0;
}

void Cm11aUploadDecoder::function(int house, int code, int percent, QList<Cm11aTraffic>& out)
{
    const QString letter(Cm11aProtocol::houseLetter(house));
    if (Cm11aProtocol::isHouseWide(code)) {
        out.append({letter, letter, code, 0});
    } else {
        // A function with no unit addressed on its house reaches no module.
        for (int unit : m_addressing.units(house))
            out.append({letter + QString::number(unit), letter, code, percent});
    }
    m_addressing.functionSent(house, code);
}

} // namespace casalux
