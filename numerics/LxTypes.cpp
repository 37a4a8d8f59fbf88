#include "numerics/LxTypes.h"

namespace morvex {

EConvertError EConvertError::NotAFloat(const std::string& text) {
  return EConvertError("'" + text + "' n'est pas une valeur en virgule flottante correcte");
}

EConvertError EConvertError::NotAnInteger(const std::string& text) {
  return EConvertError("'" + text + "' n'est pas une valeur entière correcte");
}

EListError::EListError(long long index)
    : Exception("Indice de liste hors limites (" + std::to_string(index) + ")") {}

EListError::EListError(long long index, const std::string& where)
    : Exception("Indice de liste hors limites (" + std::to_string(index) + ") " + where) {}

EFOpenError::EFOpenError(const std::string& file_name)
    : Exception("Impossible d'ouvrir le fichier " + file_name) {}

EWriteError::EWriteError(const std::string& file_name)
    : Exception("Impossible d'écrire dans " + file_name) {}

EZeroDivide::EZeroDivide() : EMathError("Division par zéro en virgule flottante") {}

EOverflow::EOverflow() : EMathError("Débordement en virgule flottante") {}

EInvalidOp::EInvalidOp() : EMathError("Opération en virgule flottante incorrecte") {}

EAssertionFailed::EAssertionFailed(const std::string& condition)
    : Exception("Assertion failed: " + condition) {}

}  // namespace morvex
