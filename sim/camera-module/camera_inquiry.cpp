// The inquiries (8x 09 ...) the camera module answers, from the one state commands change.
#include <algorithm>
#include <cmath>
#include <utility>

#include "camera_model.h"
#include "visca_codes.h"

namespace camsim {

namespace {

constexpr uint8_t kBlockFirst = 0x10;
constexpr uint8_t kBlockLast = 0x16;
constexpr size_t kBlockSize = 16;

void append_nibbles16(Bytes& out, uint16_t v)
{
    for (int shift = 12; shift >= 0; shift -= 4) {
        out.push_back(static_cast<uint8_t>((v >> static_cast<unsigned>(shift)) & 0x0FU));
    }
}

}  // namespace

Setting* CameraModel::find_setting(const Bytes& p, bool inquiry_form)
{
    return const_cast<Setting*>(std::as_const(*this).find_setting(p, inquiry_form));
}

const Setting* CameraModel::find_setting(const Bytes& p, bool inquiry_form) const
{
    for (const Setting& s : m_settings) {
        const size_t length =
            2 + s.prefix.size() + (inquiry_form ? 0 : static_cast<size_t>(s.pad + s.count)) + 1;
        if (p.size() == length && std::equal(s.prefix.begin(), s.prefix.end(), p.begin() + 2)) {
            return &s;
        }
    }
    return nullptr;
}

Setting* CameraModel::setting_named(const std::string& name)
{
    for (Setting& s : m_settings) {
        if (s.name == name) {
            return &s;
        }
    }
    return nullptr;
}

uint32_t CameraModel::value_of(const std::string& name) const
{
    for (const Setting& s : m_settings) {
        if (s.name == name) {
            return s.value;
        }
    }
    return 0;
}

Bytes CameraModel::setting_reply(const Setting& s)
{
    Bytes reply{visca::kReplyAddress, visca::kReplyKind};
    reply.insert(reply.end(), static_cast<size_t>(s.pad), 0x00);
    for (int i = s.count - 1; i >= 0; --i) {
        const unsigned shift = static_cast<unsigned>(i) * (s.byte_mode ? 8U : 4U);
        reply.push_back(static_cast<uint8_t>((s.value >> shift) & (s.byte_mode ? 0xFFU : 0x0FU)));
    }
    reply.push_back(visca::kTerminator);
    return reply;
}

std::optional<Bytes> CameraModel::inquiry(const Bytes& p, TimePoint now) const
{
    const auto is = [&](std::initializer_list<uint8_t> body) {
        return p.size() == body.size() + 3 && std::equal(body.begin(), body.end(), p.begin() + 2);
    };
    Bytes reply{visca::kReplyAddress, visca::kReplyKind};
    if (is({0x00, 0x02})) {  // version: vendor, model, ROM, socket count
        reply.insert(reply.end(), {0x00, 0x20, static_cast<uint8_t>(m_model_code >> 8U),
                                   static_cast<uint8_t>(m_model_code & 0xFFU), 0x01, 0x00,
                                   static_cast<uint8_t>(kSockets)});
    } else if (p.size() == 6 && p[2] == 0x7E && p[3] == 0x7E && p[4] >= kBlockFirst &&
               p[4] <= kBlockLast) {
        return block_reply(p[4]);
    } else if (is({0x04, 0x24, 0x72})) {
        reply.insert(reply.end(), {static_cast<uint8_t>(m_format >> 4U),
                                   static_cast<uint8_t>(m_format & 0x0FU)});
    } else if (is({0x06, 0x12})) {
        for (const Axis* axis : {&m_pan, &m_tilt}) {
            append_nibbles16(
                reply, static_cast<uint16_t>(static_cast<int16_t>(std::lround(axis->at(now)))));
        }
    } else if (is({0x04, 0x47}) || is({0x04, 0x48})) {
        const Axis& axis = p[3] == 0x47 ? m_zoom : m_focus;
        append_nibbles16(reply, static_cast<uint16_t>(std::lround(axis.at(now))));
    } else if (is({0x04, 0x15}) || is({0x06, 0x06})) {
        reply.push_back(m_menu ? visca::kOn : visca::kOff);
    } else if (is({0x7E, 0x01, 0x0A})) {
        reply.push_back(m_tally_lamp);
    } else if (const Setting* s = find_setting(p, true)) {
        return setting_reply(*s);
    } else {
        return std::nullopt;
    }
    reply.push_back(visca::kTerminator);
    return reply;
}

Bytes CameraModel::block_reply(uint8_t block) const
{
    Bytes r(kBlockSize, 0x00);
    r[0] = visca::kReplyAddress;
    r[1] = visca::kReplyKind;
    r[2] = block;
    r[kBlockSize - 1] = visca::kTerminator;
    auto put = [&](size_t at, uint32_t v) {
        // FF ends a packet on the line: a data byte never carries it.
        r[at] = static_cast<uint8_t>(std::min<uint32_t>(v & 0xFFU, 0xFE));
    };
    auto v = [&](const char* name) { return value_of(name); };
    switch (block) {
    case 0x10:
        put(3, v("ExpMode"));
        put(4, v("SlowShutterEn"));
        put(5, v("SlowShutterLimit"));
        put(6, v("AeResponse"));
        put(7, v("GainLimit"));
        put(8, v("GainLevel"));
        put(9, v("ExpCompEn") == 2 ? 1 : 0);
        put(10, v("ExpCompLvl"));
        put(12, v("IrisLevel"));
        put(13, v("ShutterSpeed") >= 6 ? v("ShutterSpeed") - 6 : 0);
        put(14, v("BrightLevel"));
        break;
    case 0x11:
        put(3, v("WbMode"));
        put(4, v("RedGain"));
        put(5, v("BlueGain"));
        put(8, v("GainPoint"));
        put(9, v("GainPointPosition"));
        put(10, v("ShutterMaxSpeed"));
        put(11, v("ShutterMinSpeed"));
        put(12, v("BackLight"));
        put(13, v("Spotlight"));
        break;
    case 0x12:
        put(7, v("Flip"));
        put(8, v("Mirror"));
        put(11, v("NDFilter"));
        put(12, v("HighSensitivity"));
        put(13, v("TWOTHREEDNR") >> 4U);
        put(14, v("TWOTHREEDNR") & 0x0FU);
        break;
    case 0x13:
        put(3, v("IRCutFilter"));
        put(4, v("ChromeSuppress"));
        put(5, v("HighlightComp") == 16 ? 1 : 0);
        put(8, v("Stabilizer") == 2 || v("Stabilizer") == 4 ? 4 : 3);
        break;
    case 0x14:
        put(3, v("WbSpeed"));
        put(4, v("WbOffset"));
        put(5, v("Matrix"));
        put(6, v("Matrix"));
        put(7, v("WbLevel"));
        put(8, v("Phase"));
        put(9, v("RG"));
        put(10, v("RB"));
        put(11, v("GR"));
        put(12, v("GB"));
        put(13, v("BR"));
        put(14, v("BG"));
        break;
    case 0x15:
        put(3, v("Detail"));
        put(4, v("Bandwidth"));
        put(5, v("Crispening"));
        put(6, v("HvBalance") + 5);
        put(7, v("BwBalance"));
        put(8, v("Limit"));
        put(9, v("HighLightDetail"));
        put(10, v("SuperLow"));
        put(11, v("DetailLevel"));
        put(12, v("FocusMode"));
        put(14, v("Freeze"));
        break;
    case 0x16: {
        put(3, v("GammaSettings"));
        put(4, v("PatternREG") / 10);
        put(5, v("PatternREG") % 10);
        // Sign and magnitude around 64: c >= 64 is c - 64, c <= 63 is 320 - c (256 + magnitude).
        const uint32_t offset = v("GammaOffset");
        put(6, offset < 256 ? std::min<uint32_t>(offset + 64, 0xFE) : 320 - std::min(offset, 320U));
        put(7, v("GammaLevel"));
        put(8, v("BlackGammaLevel"));
        put(9, v("BlackLevelRange"));
        put(10, v("BlackLevel"));
        put(11, v("VisibilityEnhancer"));
        put(12, v("Effect") >> 24U);
        put(13, m_menu ? 2 : 3);
        break;
    }
    default:
        break;
    }
    return r;
}

}  // namespace camsim
