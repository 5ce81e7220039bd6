// A request turned down the way the engine does it; thrown by the handlers, rendered once.
#pragma once

#include <string>

namespace hvsim {

struct Failure {
  enum class Form {
    Fault,    // <fault> with reason and detail
    Action,   // an action refused: <action> with status failed and the <fault>
    Missing,  // required parameters missing: API v3 answers <usage_message>, v4 a <fault>
    Unknown,  // an id in the path names nothing: no body at all
  };
  int status = 400;
  std::string reason = "Operation Failed";
  std::string detail;
  Form form = Form::Fault;
  std::string id{};  // Unknown: the id

  // "[detail]" refused with 409, the engine's answer to a failed validation.
  static Failure conflict(const std::string& detail, bool action = false) {
    return Failure{409, "Operation Failed", "[" + detail + "]",
                   action ? Form::Action : Form::Fault};
  }
  static Failure notFound(const std::string& what) {
    return Failure{404, "Operation Failed", "Entity not found: " + what, Form::Fault};
  }
  // The lookup of an id from the request's path found nothing of that kind ("VM"). Reads,
  // updates and removals answer 404 without a body; a POST reaches the engine's validation,
  // which refuses it with 400 (see Api::dispatch).
  static Failure unknown(const std::string& kind, const std::string& id) {
    return Failure{404, "", kind, Form::Unknown, id};
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
