// Archive texts (member names, setup texts, paths stored on an archive)
// made safe to print on a terminal. Whoever wrote the archive chose those
// bytes; printed raw, an escape sequence in a name could move the cursor,
// rewrite lines already shown, change the terminal's title or colours, or
// answer back into its input. Control characters are shown escaped, the
// way a careful listing tool shows odd file names:
//
//   \a \b \t \n \v \f \r   for BEL, BS, TAB, LF, VT, FF and CR
//   \xHH                   for every other byte below 0x20 and for DEL (0x7f)
//
// Bytes from 0x80 up are characters of the archive's ANSI code page and
// are kept, with one exception: C2 80 ... C2 9F is how UTF-8 writes the C1
// control characters (U+0080 ... U+009F, among them the one-byte CSI that
// some terminals act on), so such a pair is escaped as \xc2\xHH. A single
// byte 0x80 ... 0x9F is not a valid UTF-8 character and a UTF-8 terminal
// shows it as a replacement mark; it is kept, since in the ANSI code page
// it is an ordinary character. Back-slashes stay as they are: Windows paths
// are full of them, so an escaped text is for reading, not for parsing
// back.
#ifndef CRX_COMMON_TERMINAL_TEXT_H
#define CRX_COMMON_TERMINAL_TEXT_H

#include <string>

namespace crx {

// A text shown on one line (a name, a field, a caption): every control
// character escaped, line feeds and tabs included.
std::string TerminalText(const std::string& text);

// A message of several lines that may quote archive texts: its line feeds
// and tabs are kept (they are the message's own layout); every other
// control character is escaped as TerminalText does.
std::string TerminalMessage(const std::string& text);

}  // namespace crx

#endif  // CRX_COMMON_TERMINAL_TEXT_H
