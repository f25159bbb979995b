#include "platform/Exceptions.h"

namespace pelicore {

std::string ExceptionText(std::exception_ptr E) {
  try {
    if (E) std::rethrow_exception(E);
  } catch (const Exception& Ex) {
    return Ex.Message();
  } catch (const std::exception& Ex) {
    return Ex.what();
  } catch (...) {
    return "Unknown exception";
  }
  return std::string();
}

}  // namespace pelicore
