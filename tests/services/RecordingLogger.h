#pragma once
// A logger component that keeps every operation it is told of.

#include <string>
#include <vector>

#include "core/Component.h"
#include "services/IB_Services.h"

class RecordingLogger : public TComponent, public ISQLLogger {
  public:
    using TComponent::TComponent;
    TComponent* LoggerObject() override { return this; }
    void LogOperation(const std::string& name, const std::string& operation, int a,
                      int b) override {
        log.push_back(name + " " + operation + " " + std::to_string(a) + " " + std::to_string(b));
    }
    std::vector<std::string> log;
};
