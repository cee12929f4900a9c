/*
 * A stand-in for the running spreadsheet application, for tests and the demo.
 *
 *   spreadsheet.exe [--book NAME | --null-book]... [--log FILE] [--ready FILE]
 *                   [--fail CALL[=HRESULT]] [--shrink-after CALL --shrink-to N]
 *                   [--end-after CALL] [--lifetime SECONDS]
 *
 * It registers itself as "Excel.Application" in the running object table
 * (with the type library that marshals the application interface) and
 * answers the object model's members by DISPID:
 *
 *   Application.Workbooks 572 get, Application.DisplayAlerts 343 get/put,
 *   Workbooks.Count 118 get, Workbooks.Item 170 get/method,
 *   Workbook.Name 110 get, Workbook.Close 277 method (0 to 3 arguments).
 *
 * The books are open in the order given (--null-book: a book whose name is a
 * null string). Every call is logged as one UTF-8 line, for instance
 *
 *   Workbooks.Item get args=(I4 1) alerts=on
 *   Application.DisplayAlerts put args=(BOOL 0) named=(-3) alerts=on
 *   Workbook.Close method args=() alerts=off book=2
 *
 * (alerts: the setting when the call arrived; book: the book's place on the
 * command line; " -> failed" ends the line of a call that failed), and the
 * last line says what is left: "end alerts=on open=(1 3)".
 *
 * CALL is Object.Member or Object.Member#K, the K-th call of that member
 * (default the first). --fail makes that call fail: with DISP_E_EXCEPTION and
 * filled exception information, or with the HRESULT given. --shrink-after
 * cuts the collection to its first N books once that call is answered. The
 * program ends once the --end-after call is answered, by itself after
 * --lifetime seconds (default 60), or when its main thread receives WM_QUIT;
 * --ready FILE is written once it is reachable.
 */
#ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#endif
#include <ole2.h>
#include <oleauto.h>
#include <shellapi.h>
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

namespace
{

const CLSID kStandInClsid = {
    0x5e3c8a41, 0x2b7d, 0x4f19, {0xa6, 0xe0, 0x9c, 0x4d, 0x1b, 0x27, 0xf3, 0xa8}};
const wchar_t kLibraryId[] = L"{6B1F3C52-8D0E-4A57-9C1E-2F0A5B7D4E11}";
const IID kApplicationIid = {0x000208d5, 0x0000, 0x0000, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};

enum class Kind { Application, Workbooks, Workbook };

struct Member {
    Kind kind;
    DISPID id;
    const char *name;
};

const Member kMembers[] = {
    {Kind::Application, 572, "Workbooks"}, {Kind::Application, 343, "DisplayAlerts"},
    {Kind::Workbooks, 118, "Count"},       {Kind::Workbooks, 170, "Item"},
    {Kind::Workbook, 110, "Name"},         {Kind::Workbook, 277, "Close"},
};

struct Book {
    std::wstring name;
    bool isNull = false;
};

// A call named on the command line: "Object.Member" or "Object.Member#K".
struct CallSpec {
    std::string call;
    int nth = 0; // 0: not given

    bool Matches(const std::string &qualified, int count) const
    {
        return nth != 0 && qualified == call && count == nth;
    }
};

struct Options {
    std::vector<Book> books;
    std::wstring logPath;
    std::wstring readyPath;
    CallSpec fail;
    HRESULT failWith = DISP_E_EXCEPTION;
    CallSpec shrinkAfter;
    size_t shrinkTo = 0;
    CallSpec endAfter;
    DWORD lifetimeMs = 60000;
};

std::string Utf8(const std::wstring &text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &bytes[0], size, nullptr, nullptr);
    bytes.resize(bytes.size() - 1);
    return bytes;
}

CallSpec ParseCall(const std::wstring &text)
{
    CallSpec parsed;
    std::string call = Utf8(text);
    size_t hash = call.find('#');
    parsed.nth = hash == std::string::npos ? 1 : std::atoi(call.c_str() + hash + 1);
    parsed.call = call.substr(0, hash);
    return parsed;
}

bool ParseOptions(int argc, wchar_t **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        std::wstring option = argv[i];
        if (option == L"--null-book") {
            options.books.push_back(Book{L"", true});
            continue;
        }
        if (i + 1 >= argc) return false;
        std::wstring value = argv[++i];
        if (option == L"--book") {
            options.books.push_back(Book{value, false});
        } else if (option == L"--log") {
            options.logPath = value;
        } else if (option == L"--ready") {
            options.readyPath = value;
        } else if (option == L"--fail") {
            size_t equals = value.find(L'=');
            options.fail = ParseCall(value.substr(0, equals));
            if (equals != std::wstring::npos)
                options.failWith =
                    static_cast<HRESULT>(std::wcstoul(value.c_str() + equals + 1, nullptr, 0));
        } else if (option == L"--shrink-after") {
            options.shrinkAfter = ParseCall(value);
        } else if (option == L"--shrink-to") {
            options.shrinkTo = std::wcstoul(value.c_str(), nullptr, 10);
        } else if (option == L"--end-after") {
            options.endAfter = ParseCall(value);
        } else if (option == L"--lifetime") {
            options.lifetimeMs =
                static_cast<DWORD>(std::wcstoul(value.c_str(), nullptr, 10)) * 1000;
        } else {
            return false;
        }
    }
    return true;
}

// What the application holds: the books, which of them are open, the alerts
// setting, and the log.
class World
{
public:
    explicit World(const Options &options) : options_(options)
    {
        for (size_t i = 0; i < options.books.size(); ++i)
            open_.push_back(static_cast<int>(i + 1));
        if (!options.logPath.empty()) log_ = _wfopen(options.logPath.c_str(), L"wb");
    }
    ~World()
    {
        std::string line = "end alerts=" + std::string(alerts_ ? "on" : "off") + " open=(";
        for (size_t i = 0; i < open_.size(); ++i)
            line += (i ? " " : "") + std::to_string(open_[i]);
        Log(line + ")");
        if (log_ != nullptr) fclose(log_);
    }

    void Log(const std::string &line)
    {
        if (log_ == nullptr) return;
        std::fprintf(log_, "%s\n", line.c_str());
        std::fflush(log_);
    }

    const Options &options_;
    std::vector<int> open_; // places (1-based) of the open books, in collection order
    bool alerts_ = true;
    std::map<std::string, int> callCounts_;

private:
    FILE *log_ = nullptr;
};

std::string KindText(WORD flags)
{
    static const struct {
        WORD flag;
        const char *text;
    } kinds[] = {{DISPATCH_METHOD, "method"},
                 {DISPATCH_PROPERTYGET, "get"},
                 {DISPATCH_PROPERTYPUT, "put"},
                 {DISPATCH_PROPERTYPUTREF, "putref"}};
    std::string text;
    for (const auto &kind : kinds)
        if (flags & kind.flag) text += (text.empty() ? "" : "+") + std::string(kind.text);
    return text.empty() ? "none" : text;
}

std::string ArgumentText(const VARIANTARG &arg)
{
    char text[64];
    switch (arg.vt) {
    case VT_I4:
        std::snprintf(text, sizeof text, "I4 %ld", static_cast<long>(arg.lVal));
        break;
    case VT_I2:
        std::snprintf(text, sizeof text, "I2 %d", arg.iVal);
        break;
    case VT_BOOL:
        std::snprintf(text, sizeof text, "BOOL %d", arg.boolVal);
        break;
    case VT_ERROR:
        std::snprintf(text, sizeof text, "ERROR 0x%08lX", static_cast<unsigned long>(arg.scode));
        break;
    case VT_BSTR:
        return "BSTR \"" + Utf8(arg.bstrVal ? arg.bstrVal : L"") + "\"";
    default:
        std::snprintf(text, sizeof text, "VT%u", arg.vt);
        break;
    }
    return text;
}

const char *ObjectName(Kind kind)
{
    switch (kind) {
    case Kind::Application:
        return "Application";
    case Kind::Workbooks:
        return "Workbooks";
    default:
        return "Workbook";
    }
}

// One object of the model; the application, the collection and each book
// handed out are objects of this class.
class StandInObject final : public IDispatch
{
public:
    StandInObject(World &world, Kind kind, int book = 0) : world_(world), kind_(kind), book_(book)
    {
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
            (kind_ == Kind::Application && IsEqualIID(iid, kApplicationIid))) {
            *object = static_cast<IDispatch *>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override
    {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *names, UINT count, LCID,
                                            DISPID *ids) override
    {
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            for (const Member &member : kMembers)
                if (member.kind == kind_ && Utf8(names[i]) == member.name) ids[i] = member.id;
            if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *params,
                                     VARIANT *result, EXCEPINFO *exception, UINT *) override
    {
        std::string qualified = std::string(ObjectName(kind_)) + "." + MemberName(id);
        int count = ++world_.callCounts_[qualified];
        std::string line = qualified + " " + KindText(flags) + " args=(";
        UINT positional = params->cArgs - params->cNamedArgs;
        for (UINT i = 0; i < params->cArgs; ++i) // call order: the last entry first
            line += (i ? " " : "") + ArgumentText(params->rgvarg[params->cArgs - 1 - i]);
        line += ")";
        if (params->cNamedArgs > 0) {
            line += " named=(";
            for (UINT i = 0; i < params->cNamedArgs; ++i)
                line += (i ? " " : "") + std::to_string(params->rgdispidNamedArgs[i]);
            line += ")";
        }
        line += world_.alerts_ ? " alerts=on" : " alerts=off";
        if (kind_ == Kind::Workbook) line += " book=" + std::to_string(book_);

        HRESULT hr;
        const Options &options = world_.options_;
        if (options.fail.Matches(qualified, count)) {
            hr = options.failWith;
            if (hr == DISP_E_EXCEPTION && exception != nullptr) {
                exception->scode = E_FAIL;
                exception->bstrSource = SysAllocString(L"spreadsheet stand-in");
                exception->bstrDescription = SysAllocString(L"injected fault");
            }
        } else {
            if (result != nullptr) VariantInit(result);
            hr = Answer(id, flags, params, positional, result);
        }
        world_.Log(FAILED(hr) ? line + " -> failed" : line);
        if (options.shrinkAfter.Matches(qualified, count) && world_.open_.size() > options.shrinkTo)
            world_.open_.resize(options.shrinkTo);
        // Calls arrive on the main thread, whose message loop this ends.
        if (options.endAfter.Matches(qualified, count)) PostQuitMessage(0);
        return hr;
    }

private:
    const char *MemberName(DISPID id) const
    {
        for (const Member &member : kMembers)
            if (member.kind == kind_ && member.id == id) return member.name;
        return "unknown";
    }

    HRESULT Answer(DISPID id, WORD flags, DISPPARAMS *params, UINT positional, VARIANT *result)
    {
        const bool get = (flags & DISPATCH_PROPERTYGET) != 0;
        const bool method = (flags & DISPATCH_METHOD) != 0;
        const bool put = (flags & DISPATCH_PROPERTYPUT) != 0;
        switch (kind_) {
        case Kind::Application:
            if (id == 572 && get && params->cArgs == 0) {
                result->vt = VT_DISPATCH;
                result->pdispVal = new StandInObject(world_, Kind::Workbooks);
                return S_OK;
            }
            if (id == 343 && get && params->cArgs == 0) {
                result->vt = VT_BOOL;
                result->boolVal = world_.alerts_ ? VARIANT_TRUE : VARIANT_FALSE;
                return S_OK;
            }
            if (id == 343 && put && params->cArgs == 1 && params->cNamedArgs == 1 &&
                params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT) {
                VARIANT value;
                VariantInit(&value);
                HRESULT hr = VariantChangeType(&value, &params->rgvarg[0], 0, VT_BOOL);
                if (FAILED(hr)) return hr;
                world_.alerts_ = value.boolVal != VARIANT_FALSE;
                return S_OK;
            }
            break;
        case Kind::Workbooks:
            if (id == 118 && get && params->cArgs == 0) {
                result->vt = VT_I4;
                result->lVal = static_cast<LONG>(world_.open_.size());
                return S_OK;
            }
            if (id == 170 && (get || method) && positional == 1) {
                VARIANT index;
                VariantInit(&index);
                if (FAILED(VariantChangeType(&index, &params->rgvarg[0], 0, VT_I4)))
                    return DISP_E_TYPEMISMATCH;
                if (index.lVal < 1 || static_cast<size_t>(index.lVal) > world_.open_.size())
                    return DISP_E_BADINDEX;
                result->vt = VT_DISPATCH;
                result->pdispVal =
                    new StandInObject(world_, Kind::Workbook, world_.open_[index.lVal - 1]);
                return S_OK;
            }
            break;
        case Kind::Workbook:
            if (id == 110 && get && params->cArgs == 0) {
                const Book &book = world_.options_.books[book_ - 1];
                result->vt = VT_BSTR;
                result->bstrVal = book.isNull ? nullptr : SysAllocString(book.name.c_str());
                return S_OK;
            }
            if (id == 277 && method && positional <= 3) {
                for (auto place = world_.open_.begin(); place != world_.open_.end(); ++place)
                    if (*place == book_) {
                        world_.open_.erase(place);
                        return S_OK;
                    }
                return E_FAIL; // closed before
            }
            break;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

    LONG refs_ = 1;
    World &world_;
    Kind kind_;
    int book_;
};

void SetDefaultValue(const std::wstring &key, const std::wstring &value)
{
    RegSetValueW(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(),
                 static_cast<DWORD>(value.size() * sizeof(wchar_t)));
}

// The type library marshals the application interface for 64-bit clients
// (resource 1, registered with it) and for 32-bit ones (resource 2). The
// ProgID leads to this program's class.
bool Register(const std::wstring &exePath)
{
    ITypeLib *library = nullptr;
    if (FAILED(LoadTypeLibEx(exePath.c_str(), REGKIND_REGISTER, &library))) return false;
    library->Release();
    SetDefaultValue(std::wstring(L"TypeLib\\") + kLibraryId + L"\\1.0\\0\\win32", exePath + L"\\2");
    wchar_t clsid[64];
    StringFromGUID2(kStandInClsid, clsid, 64);
    SetDefaultValue(L"Excel.Application\\CLSID", clsid);
    return true;
}

void WriteReadyFile(const std::wstring &path)
{
    if (path.empty()) return;
    FILE *ready = _wfopen(path.c_str(), L"wb");
    if (ready != nullptr) fclose(ready);
}

} // namespace

int main()
{
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    Options options;
    if (argv == nullptr || !ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: see the comment at the top of spreadsheet.cpp\n");
        return 2;
    }
    LocalFree(argv);

    CoInitialize(nullptr);
    wchar_t exePath[MAX_PATH];
    GetModuleFileNameW(nullptr, exePath, MAX_PATH);
    int status = 0;
    {
        World world(options);
        StandInObject *application = new StandInObject(world, Kind::Application);
        DWORD cookie = 0;
        if (!Register(exePath) || FAILED(RegisterActiveObject(application, kStandInClsid,
                                                              ACTIVEOBJECT_STRONG, &cookie))) {
            std::fprintf(stderr, "spreadsheet: cannot register the application object\n");
            status = 1;
        } else {
            WriteReadyFile(options.readyPath);
            // Incoming calls arrive as messages of this single-threaded
            // apartment; a timer bounds the whole run.
            SetTimer(nullptr, 0, options.lifetimeMs, nullptr);
            MSG message;
            while (GetMessageW(&message, nullptr, 0, 0) > 0 && message.message != WM_TIMER)
                DispatchMessageW(&message);
            RevokeActiveObject(cookie, nullptr);
        }
        // Clients that still hold proxies get errors from now on.
        CoDisconnectObject(application, 0);
        application->Release();
    }
    // No CoUninitialize: a client may still be releasing its references
    // (after --end-after it usually is), and Wine's CoUninitialize first
    // destroys the window through which this thread would run that call,
    // then waits for the call to finish: forever. Ending the process
    // releases everything.
    return status;
}
