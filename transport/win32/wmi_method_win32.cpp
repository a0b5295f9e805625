#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wbemcli.h>

#include <cstring>
#include <optional>
#include <string>

#include "platform/win32/com_objects.h"
#include "transport/wmi_driver.h"

namespace transport {
namespace {

using platform::Bstr;
using platform::ComRef;

class Variant {
 public:
  Variant() { VariantInit(&v_); }
  ~Variant() { VariantClear(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* get() { return &v_; }
  const VARIANT& operator*() const { return v_; }

 private:
  VARIANT v_;
};

const wchar_t kNamespace[] = L"root\\WMI";
const wchar_t kClassName[] = L"Microsoft_IPMI";
const wchar_t kMethodName[] = L"RequestResponseEx";

HRESULT PutByte(IWbemClassObject* object, const wchar_t* name, uint8_t value) {
  Variant v;
  v.get()->vt = VT_UI1;
  v.get()->bVal = value;
  return object->Put(name, 0, v.get(), 0);
}

HRESULT PutInt(IWbemClassObject* object, const wchar_t* name, int32_t value) {
  Variant v;
  v.get()->vt = VT_I4;
  v.get()->lVal = value;
  return object->Put(name, 0, v.get(), 0);
}

HRESULT PutBytes(IWbemClassObject* object, const wchar_t* name, const wire::Bytes& bytes) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  if (array == nullptr) return E_OUTOFMEMORY;
  Variant v;
  v.get()->vt = VT_ARRAY | VT_UI1;
  v.get()->parray = array;
  void* data = nullptr;
  HRESULT hr = SafeArrayAccessData(array, &data);
  if (FAILED(hr)) return hr;
  if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
  SafeArrayUnaccessData(array);
  return object->Put(name, 0, v.get(), 0);
}

std::optional<uint8_t> LowByte(const VARIANT& v) {
  switch (v.vt) {
    case VT_UI1:
      return v.bVal;
    case VT_I1:
      return static_cast<uint8_t>(v.cVal);
    case VT_I2:
      return static_cast<uint8_t>(v.iVal);
    case VT_UI2:
      return static_cast<uint8_t>(v.uiVal);
    case VT_I4:
    case VT_INT:
      return static_cast<uint8_t>(v.lVal);
    case VT_UI4:
    case VT_UINT:
      return static_cast<uint8_t>(v.ulVal);
    default:
      return std::nullopt;
  }
}

// Whatever else WMI hands back (another type, more dimensions) is no response.
std::optional<wire::Bytes> ByteElements(const VARIANT& v) {
  if (v.vt != (VT_ARRAY | VT_UI1) || v.parray == nullptr || SafeArrayGetDim(v.parray) != 1 ||
      SafeArrayGetElemsize(v.parray) != 1)
    return std::nullopt;
  LONG lower = 0, upper = -1;
  if (FAILED(SafeArrayGetLBound(v.parray, 1, &lower)) || FAILED(SafeArrayGetUBound(v.parray, 1, &upper)))
    return std::nullopt;
  if (upper < lower) return wire::Bytes{};
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(v.parray, &data))) return std::nullopt;
  const auto* first = static_cast<const uint8_t*>(data);
  wire::Bytes elements(first, first + (static_cast<int64_t>(upper) - lower + 1));
  SafeArrayUnaccessData(v.parray);
  return elements;
}

class ComWmiMethod : public WmiIpmiMethod {
 public:
  ComWmiMethod() = default;
  ~ComWmiMethod() override { TearDown(); }
  ComWmiMethod(const ComWmiMethod&) = delete;
  ComWmiMethod& operator=(const ComWmiMethod&) = delete;

  // Leaves nothing of COM behind when it fails.
  bool Open(WmiOpenStep* failedStep, int32_t* hresult) {
    // A thread already in the multithreaded apartment keeps it; WMI serves both.
    comInitialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    HRESULT hr = S_OK;
    *failedStep = Connect(&hr);
    *hresult = static_cast<int32_t>(hr);
    if (*failedStep == WmiOpenStep::kNone) return true;
    TearDown();
    return false;
  }

  InstanceLookup FindInstanceName(uint32_t timeoutMs, std::wstring* name) override {
    if (!services_) return InstanceLookup::kMissing;
    ComRef<IEnumWbemClassObject> instances;
    HRESULT hr =
        services_->ExecQuery(Bstr(L"WQL").get(), Bstr(L"SELECT * FROM Microsoft_IPMI").get(),
                             WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY, nullptr, instances.Out());
    if (FAILED(hr)) return InstanceLookup::kMissing;
    ComRef<IWbemClassObject> instance;
    ULONG returned = 0;
    hr = instances->Next(static_cast<LONG>(timeoutMs), 1, instance.Out(), &returned);
    if (hr == WBEM_S_TIMEDOUT) return InstanceLookup::kTimedOut;
    if (FAILED(hr) || returned != 1 || !instance) return InstanceLookup::kMissing;
    Variant value;
    if (FAILED(instance->Get(L"InstanceName", 0, value.get(), nullptr, nullptr)) || (*value).vt != VT_BSTR ||
        (*value).bstrVal == nullptr)
      return InstanceLookup::kMissing;
    name->assign((*value).bstrVal, SysStringLen((*value).bstrVal));
    return InstanceLookup::kFound;
  }

  PrepareResult Prepare(const WmiInParameters& in) override {
    EndRequest();
    if (!class_) return {PrepareOutcome::kMethodUnavailable, E_POINTER};
    ComRef<IWbemClassObject> signature;
    HRESULT hr = class_->GetMethod(kMethodName, 0, signature.Out(), nullptr);
    if (SUCCEEDED(hr) && !signature) hr = E_POINTER;
    if (SUCCEEDED(hr)) hr = signature->SpawnInstance(0, inParams_.Out());
    if (FAILED(hr)) return {PrepareOutcome::kMethodUnavailable, hr};
    IWbemClassObject* p = inParams_.get();
    hr = PutByte(p, L"NetworkFunction", in.networkFunction);
    if (SUCCEEDED(hr)) hr = PutByte(p, L"Lun", in.lun);
    if (SUCCEEDED(hr)) hr = PutByte(p, L"ResponderAddress", in.responderAddress);
    if (SUCCEEDED(hr)) hr = PutByte(p, L"Command", in.command);
    if (SUCCEEDED(hr)) hr = PutInt(p, L"RequestDataSize", in.requestDataSize);
    if (SUCCEEDED(hr)) hr = PutInt(p, L"DataSize", in.dataSize);
    if (SUCCEEDED(hr)) hr = PutBytes(p, L"Data", in.data);
    if (FAILED(hr)) {
      inParams_.Reset();
      return {PrepareOutcome::kParameterRefused, hr};
    }
    return {};
  }

  bool Call(const std::wstring& instancePath, WmiAnswer* answer) override {
    if (!services_ || !inParams_) return false;
    ComRef<IWbemClassObject> out;
    const HRESULT hr = services_->ExecMethod(Bstr(instancePath).get(), Bstr(kMethodName).get(), 0, nullptr,
                                             inParams_.get(), out.Out(), nullptr);
    if (FAILED(hr) || !out) {
      out.Reset();
      TearDown();
      return false;
    }
    Variant code, data;
    if (SUCCEEDED(out->Get(L"CompletionCode", 0, code.get(), nullptr, nullptr)))
      answer->completionCode = LowByte(*code);
    if (SUCCEEDED(out->Get(L"ResponseData", 0, data.get(), nullptr, nullptr)))
      answer->responseData = ByteElements(*data);
    return true;
  }

  void EndRequest() override { inParams_.Reset(); }

  bool Reopen() override {
    TearDown();
    WmiOpenStep step = WmiOpenStep::kNone;
    int32_t hr = 0;
    return Open(&step, &hr);
  }

 private:
  // The services and class objects; the locator is released before any teardown.
  WmiOpenStep Connect(HRESULT* hr) {
    // Security is set once per process; when something set it before (or an earlier open
    // did), the proxy blanket below still asks for impersonation.
    *hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    if (FAILED(*hr) && *hr != RPC_E_TOO_LATE) return WmiOpenStep::kSecurity;
    ComRef<IWbemLocator> locator;
    *hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                           locator.OutVoid());
    if (FAILED(*hr)) return WmiOpenStep::kLocator;
    *hr = locator->ConnectServer(Bstr(kNamespace).get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                 services_.Out());
    if (FAILED(*hr)) return WmiOpenStep::kNamespace;
    // An in-process service has no proxy to set, which is no failure.
    CoSetProxyBlanket(services_.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                      RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    *hr = services_->GetObject(Bstr(kClassName).get(), 0, nullptr, class_.Out(), nullptr);
    if (FAILED(*hr)) return WmiOpenStep::kClassObject;
    *hr = S_OK;
    return WmiOpenStep::kNone;
  }

  void TearDown() {
    inParams_.Reset();
    class_.Reset();
    services_.Reset();
    if (comInitialized_) CoUninitialize();
    comInitialized_ = false;
  }

  bool comInitialized_ = false;
  ComRef<IWbemServices> services_;
  ComRef<IWbemClassObject> class_;
  ComRef<IWbemClassObject> inParams_;
};

}  // namespace

WmiPathOpening OpenMicrosoftIpmiDriver(const WmiPathSetup& setup) {
  auto method = std::make_unique<ComWmiMethod>();
  WmiPathOpening opening;
  if (!method->Open(&opening.failedStep, &opening.hresult)) return opening;
  return StartWmiPath(std::move(method), setup);
}

}  // namespace transport
