// Module base class, result writer and the error guard of every page call.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kx5 {

class NativeObjects;

// Zero, one or two argument texts; an argument the page left out is absent.
using Args = std::vector<std::string>;

// Thrown after a failing system call; the page receives "e" + message.
class NativeException {
  public:
    // Message of the current errno.
    NativeException();
    explicit NativeException(int errnum);
    // A message given directly (for failures that do not come with errno).
    explicit NativeException(std::string message) : message_(std::move(message)) {}
    const std::string& message() const { return message_; }

  private:
    std::string message_;
};

// Writes the typed result text of the running call.
class CallResult {
  public:
    explicit CallResult(std::string& target) : text_(target) {}
    void setString(const std::string& s) { text_ = "s" + s; }
    void setInt(int32_t v) { text_ = "d" + std::to_string(v); }
    void setUnsigned(uint32_t v) { text_ = "d" + std::to_string(v); }
    void setFloat(float v);
    void setBool(bool v) { text_ = v ? "b1" : "b"; }
    const std::string& text() const { return text_; }

  private:
    std::string& text_;
};

class NativeCall;
using ModuleTable = std::map<std::string, NativeCall*>;

// One entry of a module's function table: the name the page calls and the id
// the module's invoke switches on (a value of the module's Function enum).
struct FunctionName {
    const char* name;
    int32_t id;
};

class NativeCall {
  public:
    explicit NativeCall(NativeObjects* owner) : owner_(owner) {}
    virtual ~NativeCall() = default;
    NativeCall(const NativeCall&) = delete;
    NativeCall& operator=(const NativeCall&) = delete;

    // Runs one function under the error guard; "v" when the name is unknown.
    virtual std::string call(const std::string& function, const Args& args);
    virtual std::string name() const = 0;

    void registerIn(ModuleTable& table);
    const std::map<std::string, int32_t>& functionTable() const { return functionTable_; }
    // The names in id order, as the page lists them.
    std::vector<std::string> functionNames() const;

  protected:
    virtual void invoke(int32_t id, const Args& args, CallResult& result) = 0;
    // A name already present keeps its first id.
    void addFunction(const std::string& name, int32_t id);
    // The whole table, in id order: the ids must run 0, 1, 2... as given
    // (std::logic_error otherwise), so names and ids cannot drift apart.
    void addFunctions(std::initializer_list<FunctionName> table);
    NativeObjects* owner() const { return owner_; }

  private:
    NativeObjects* owner_;
    std::map<std::string, int32_t> functionTable_;
};

// Splits "$$module_function" at the first "_" into module key and function.
std::pair<std::string, std::string> splitCallName(const std::string& callName);

// The entry the web view's host object wraps: routes a call to its module.
// Only the first two arguments are passed on.
std::string dispatchCall(const ModuleTable& table, const std::string& callName, Args args);

} // namespace kx5
