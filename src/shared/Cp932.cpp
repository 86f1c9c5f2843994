#include "Cp932.h"

#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace qrb {

namespace {

// glibc's "CP932" rather than "SHIFT_JIS": only it maps "～" (U+FF5E) to 0x81 0x60 as Windows does.
class Converter
{
public:
    Converter(const char *to, const char *from)
        : m_cd(iconv_open(to, from))
    {
        if (m_cd == reinterpret_cast<iconv_t>(-1)) {
            throw std::runtime_error("iconv cannot convert between CP932 and UTF-8");
        }
    }
    ~Converter() { iconv_close(m_cd); }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    // Converts as much as it can; returns false with `in` left at the first byte it could not take.
    bool convert(const char *&in, size_t &inLeft, QByteArray &out)
    {
        char buffer[4096];
        while (inLeft > 0) {
            char *inPtr = const_cast<char *>(in);
            char *outPtr = buffer;
            size_t outLeft = sizeof buffer;
            const size_t rc = iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft);
            out.append(buffer, static_cast<qsizetype>(outPtr - buffer));
            in = inPtr;
            if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
                iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
                return false;
            }
        }
        return true;
    }

private:
    iconv_t m_cd;
};

// Length of the UTF-8 sequence that starts with this byte (1 for a stray byte).
size_t utf8Length(unsigned char lead)
{
    if (lead >= 0xF0) {
        return 4;
    }
    if (lead >= 0xE0) {
        return 3;
    }
    if (lead >= 0xC0) {
        return 2;
    }
    return 1;
}

} // namespace

Cp932Bytes encodeCp932(const QString &text)
{
    static const QByteArray geta("\x81\xAC"); // "〓"
    Converter converter("CP932", "UTF-8");
    const QByteArray utf8 = text.toUtf8();
    const char *in = utf8.constData();
    size_t left = static_cast<size_t>(utf8.size());
    Cp932Bytes result;
    result.bytes.reserve(utf8.size());
    while (!converter.convert(in, left, result.bytes)) {
        const size_t skip = std::min(left, utf8Length(static_cast<unsigned char>(*in)));
        in += skip;
        left -= skip;
        result.bytes.append(geta);
        ++result.replaced;
    }
    return result;
}

QString decodeCp932(const QByteArray &bytes)
{
    Converter converter("UTF-8", "CP932");
    const char *in = bytes.constData();
    size_t left = static_cast<size_t>(bytes.size());
    QByteArray utf8;
    utf8.reserve(bytes.size() * 3 / 2);
    while (!converter.convert(in, left, utf8)) {
        // A lead byte without its trail, or an unmapped pair: one character lost, not the rest.
        ++in;
        --left;
        utf8.append("\xEF\xBF\xBD");
    }
    return QString::fromUtf8(utf8);
}

} // namespace qrb
