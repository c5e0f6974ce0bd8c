#include "verify/signed_text.h"

namespace {
const char kMarker[] = ";sig=";
const size_t kMarkerLength = sizeof(kMarker) - 1;

// The text without one final line break.
std::string WithoutFinalBreak(const std::string& bytes) {
    if (bytes.size() >= 2 && bytes.compare(bytes.size() - 2, 2, "\r\n") == 0) return bytes.substr(0, bytes.size() - 2);
    if (!bytes.empty() && bytes.back() == '\n') return bytes.substr(0, bytes.size() - 1);
    return bytes;
}
}  // namespace

std::optional<SignedText> SplitSignedText(const std::string& bytes) {
    const std::string body = WithoutFinalBreak(bytes);
    const size_t lineStart = body.rfind('\n') == std::string::npos ? 0 : body.rfind('\n') + 1;
    if (body.compare(lineStart, kMarkerLength, kMarker) != 0) return std::nullopt;
    return SignedText{bytes.substr(0, lineStart), body.substr(lineStart + kMarkerLength)};
}

std::string WithSignatureLine(const std::string& bytes, const std::string& signatureBase64) {
    const std::optional<SignedText> signedText = SplitSignedText(bytes);
    std::string text = signedText ? signedText->signedBytes : bytes;
    const std::string lineBreak = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    if (!text.empty() && text.back() != '\n') text += lineBreak;
    return text + kMarker + signatureBase64 + lineBreak;
}
