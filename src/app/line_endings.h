#pragma once

#include <string>
#include <string_view>

// Text files here end their lines with LF; FTP's ASCII type and TFTP's netascii mode carry them as CR LF.
// These conversions are pure: the transfers feed them the bytes as they come, in pieces of any size.
namespace hx {

enum class LineEndRules {
  // FTP TYPE A: LF travels as CR LF; a CR travels as it is. Every LF of the file gains a CR, also one that
  // follows a CR, so that a file sent is as long as SIZE announced (each LF counting two).
  Ftp,
  // TFTP netascii: LF travels as CR LF and a CR as CR NUL, so that the receiver can tell the two apart.
  Netascii,
};

// Appends the wire form of the file bytes `local` to `out`. Each byte converts on its own, so the file may
// be cut anywhere.
void EncodeLineEnds(std::string_view local, LineEndRules rules, std::string& out);

// Turns the wire form back into file bytes: CR LF becomes LF; with netascii CR NUL becomes CR. A CR followed
// by anything else is kept with what follows. A CR that ends one piece is held until the next piece tells
// what it is.
class LineEndDecoder {
 public:
  explicit LineEndDecoder(LineEndRules rules) : m_rules(rules) {}

  // Appends the file bytes of the next received piece to `out`.
  void Decode(std::string_view wire, std::string& out);
  // The data has ended: a CR still held was a bare one and is appended to `out`.
  void Finish(std::string& out);
  // Whether a CR waits for the next piece.
  bool HoldsCr() const { return m_heldCr; }

 private:
  LineEndRules m_rules;
  bool m_heldCr = false;
};

}  // namespace hx
