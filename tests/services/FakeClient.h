#pragma once
// Test-side handle on a fake client library: opens the same shared object the
// binding loads (so both see the same globals) and reaches its script controls.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/DynamicLibrary.h"

class FakeClient {
  public:
    enum Call { Attach = 0, Detach = 1, Query = 2, Start = 3 };

    explicit FakeClient(std::string path)
        : path_(std::move(path)), library_(platform::DynamicLibrary::Load(path_)) {
        if (!library_)
            throw std::runtime_error("cannot open fake " + path_);
        Fn<void()>("fake_reset")();
    }
    ~FakeClient() { Fn<void()>("fake_reset")(); }
    FakeClient(const FakeClient&) = delete;
    FakeClient& operator=(const FakeClient&) = delete;

    const std::string& Path() const { return path_; }

    void PushResponse(const std::vector<unsigned char>& bytes) {
        Fn<void(const char*, int)>("fake_push_response")(
            reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
    }
    void PushAnswer(const std::string& bytes) {
        PushResponse(std::vector<unsigned char>(bytes.begin(), bytes.end()));
    }
    int PendingResponses() { return Fn<int()>("fake_pending_responses")(); }
    // `call` fails with `code` after `after` further successful calls.
    void Fail(Call call, long code, int after = 0) {
        Fn<void(int, long, int)>("fake_fail")(call, code, after);
    }
    void SetSql(int sqlcode, const char* message) {
        Fn<void(int, const char*)>("fake_set_sql")(sqlcode, message);
    }
    void AddServerLine(const char* line) { Fn<void(const char*)>("fake_add_server_line")(line); }

    int Calls(Call call) { return Var<int>("fake_calls")[call]; }
    int MajorVersionCalls() { return *Var<int>("fake_major_version_calls"); }
    std::string LastServiceName() { return Var<char>("fake_last_service_name"); }
    std::string LastSpb() { return Bytes("fake_last_spb", "fake_last_spb_length"); }
    std::string LastStart() { return Bytes("fake_last_start", "fake_last_start_length"); }
    std::string LastSend() { return Bytes("fake_last_send", "fake_last_send_length"); }
    std::string LastRequest() { return Bytes("fake_last_request", "fake_last_request_length"); }
    int LastBufferLength() { return *Var<int>("fake_last_buffer_length"); }
    std::size_t LastBufferCapacity() { return *Var<std::size_t>("fake_last_buffer_capacity"); }
    unsigned LastHandle() { return *Var<unsigned>("fake_last_handle"); }

  private:
    void* Address(const char* name) {
        void* address = library_->Symbol(name);
        if (!address)
            throw std::runtime_error(std::string("fake lacks ") + name);
        return address;
    }
    template <class F>
    F* Fn(const char* name) {
        return reinterpret_cast<F*>(Address(name));
    }
    template <class T>
    T* Var(const char* name) {
        return static_cast<T*>(Address(name));
    }
    std::string Bytes(const char* data, const char* length) {
        return std::string(Var<char>(data), static_cast<std::size_t>(*Var<int>(length)));
    }

    std::string path_;
    std::unique_ptr<platform::DynamicLibrary> library_;
};

// A byte string from a list of byte values, for block comparisons.
inline std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}
