// Basic types and the exception classes of Morvex.
//
// Every failure in the program is a C++ exception derived from `Exception`,
// which carries the message shown to the user.  The classes below exist so
// that callers can tell the kinds apart (a conversion error from a file
// error, say); each one formats its own fixed message text, so the same
// condition always reads the same way wherever it arises.
//
// Extended precision is the 80-bit x87 format, `long double` with GCC on
// x86-64 (64-bit mantissa).  The numeric library, the fitter and the model
// objects compute in it; data sets and the differential-evolution vectors
// use `double`.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace morvex {

using Extended = long double;

// The general exception class: a message and nothing else.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// Raised by the float vector with one of its fixed messages.
class ELxFloatVector : public Exception {
 public:
  using Exception::Exception;
};

// Raised by the matrix with one of its fixed messages.
class ELxFloatMatrix : public Exception {
 public:
  using Exception::Exception;
};

// A text that is not a floating-point number:
// "'<text>' n'est pas une valeur en virgule flottante correcte".
class EConvertError : public Exception {
 public:
  using Exception::Exception;
  static EConvertError NotAFloat(const std::string& text);
  // An integer conversion failure: "'<text>' n'est pas une valeur entière correcte".
  static EConvertError NotAnInteger(const std::string& text);
};

// A missing field or line: "Indice de liste hors limites (<index>)".
class EListError : public Exception {
 public:
  explicit EListError(long long index);
  // The same text followed by a blank and `where` (which element of which
  // file was missing).
  EListError(long long index, const std::string& where);
};

// A file that cannot be opened: "Impossible d'ouvrir le fichier <name>".
class EFOpenError : public Exception {
 public:
  explicit EFOpenError(const std::string& file_name);
};

// A file that cannot be written: "Impossible d'écrire dans <name>".
class EWriteError : public Exception {
 public:
  explicit EWriteError(const std::string& file_name);
};

// Floating-point faults.  They share a base so that callers may trap all three.
class EMathError : public Exception {
 public:
  using Exception::Exception;
};

// "Division par zéro en virgule flottante"
class EZeroDivide : public EMathError {
 public:
  EZeroDivide();
};

// "Débordement en virgule flottante"
class EOverflow : public EMathError {
 public:
  EOverflow();
};

// "Opération en virgule flottante incorrecte"
class EInvalidOp : public EMathError {
 public:
  EInvalidOp();
};

// A broken precondition of a programming interface (not a user error).
// The message names the condition that failed.
class EAssertionFailed : public Exception {
 public:
  explicit EAssertionFailed(const std::string& condition);
};

// Raises EAssertionFailed naming `condition` when `ok` is false.
inline void LxAssert(bool ok, const char* condition) {
  if (!ok) throw EAssertionFailed(condition);
}

}  // namespace morvex
