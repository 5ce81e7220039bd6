// A request turned down the way the engine does it; thrown by the handlers, rendered once.
#pragma once

#include <string>

namespace hvsim {

struct Failure {
  enum class Form {
    Fault,    // <fault> with reason and detail
    Action,   // an action refused: <action> with status failed and the <fault>
    Missing,  // required parameters missing: API v3 answers <usage_message>, v4 a <fault>
  };
  int status = 400;
  std::string reason = "Operation Failed";
  std::string detail;
  Form form = Form::Fault;

  // "[detail]" refused with 409, the engine's answer to a failed validation.
  static Failure conflict(const std::string& detail, bool action = false) {
    return Failure{409, "Operation Failed", "[" + detail + "]",
                   action ? Form::Action : Form::Fault};
  }
  static Failure notFound(const std::string& what) {
    return Failure{404, "Operation Failed", "Entity not found: " + what, Form::Fault};
  }
  // e.g. missing("Vm [name] required for add")
  static Failure missing(const std::string& detail) {
    return Failure{400, "Incomplete parameters", detail, Form::Missing};
  }
  static Failure badValue(const std::string& detail) {
    return Failure{400, "Invalid value", detail, Form::Fault};
  }
};

}  // namespace hvsim
