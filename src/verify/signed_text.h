// A text that carries its publisher's signature as its last line: ";sig=<base64>". Launchers
// without a publisher key read that line as a comment.
#pragma once

#include <optional>
#include <string>

struct SignedText {
    std::string signedBytes;  // every byte before the signature line, its line break included
    std::string signature;    // the base64 text after ";sig="
};

// Splits off the last line when it is a signature line. One line break may follow it; anything
// else after it (another line, blank lines) means the text is not signed.
std::optional<SignedText> SplitSignedText(const std::string& bytes);

// `bytes` with its signature line (if any) removed and ";sig=<signatureBase64>" appended on a
// line of its own, ending with the same line break the text uses (CRLF or LF).
std::string WithSignatureLine(const std::string& bytes, const std::string& signatureBase64);
