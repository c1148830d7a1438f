#include "bridge/native_call.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace kx5 {

NativeException::NativeException() : NativeException(errno) {}
NativeException::NativeException(int errnum) : message_(std::strerror(errnum)) {}

void CallResult::setFloat(float v) {
    char buf[400];
    std::snprintf(buf, sizeof buf, "%f", static_cast<double>(v));
    text_ = std::string("f") + buf;
}

std::string NativeCall::call(const std::string& function, const Args& args) {
    std::string result = "v";
    auto it = functionTable_.find(function);
    if (it == functionTable_.end()) return result;
    CallResult writer(result);
    try {
        invoke(it->second, args, writer);
    } catch (const NativeException& e) {
        result = "e" + e.message();
    } catch (...) {
        result = "esystem exception";
    }
    return result;
}

void NativeCall::registerIn(ModuleTable& table) {
    table.emplace("$$" + name(), this);
}

void NativeCall::addFunction(const std::string& name, int32_t id) {
    functionTable_.emplace(name, id);
}

void NativeCall::addFunctions(std::initializer_list<FunctionName> table) {
    int32_t next = 0;
    for (const FunctionName& f : table) {
        if (f.id != next++)
            throw std::logic_error(name() + "_" + f.name + ": function ids out of order");
        addFunction(f.name, f.id);
    }
}

std::vector<std::string> NativeCall::functionNames() const {
    std::vector<std::string> names;
    for (const auto& [n, id] : functionTable_) {
        if (id < 0) continue;
        if (static_cast<size_t>(id) >= names.size()) names.resize(static_cast<size_t>(id) + 1);
        names[static_cast<size_t>(id)] = n;
    }
    return names;
}

std::pair<std::string, std::string> splitCallName(const std::string& callName) {
    const size_t us = callName.find('_');
    if (us == std::string::npos) return {callName, callName};
    return {callName.substr(0, us), callName.substr(us + 1)};
}

std::string dispatchCall(const ModuleTable& table, const std::string& callName, Args args) {
    if (args.size() > 2) args.resize(2);
    // Texts end at an embedded NUL, as they do on the page's side of the bridge.
    for (auto& a : args)
        a = a.substr(0, a.find('\0'));
    const auto [key, function] = splitCallName(callName.substr(0, callName.find('\0')));
    auto it = table.find(key);
    if (it == table.end()) return "v";
    std::string result = it->second->call(function, args);
    return result.substr(0, result.find('\0'));
}

} // namespace kx5
