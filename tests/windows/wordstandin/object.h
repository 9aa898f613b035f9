#pragma once
// The stand-in's automation objects share this: IDispatch with type information from CreateDispTypeInfo,
// as a real word processor's objects have, so that names and named arguments are looked up as there.
// Every call is logged with its arguments and their variant types in calls.log.

#include "standin.h"

namespace standin {

struct Member
{
    const wchar_t *name;
    DISPID id;
    WORD flags;
    VARTYPE result;
    std::vector<const wchar_t *> params; // all VARIANT; a named argument's id is its parameter's place
};

class Object : public IDispatch
{
public:
    Object(const wchar_t *kind, const std::vector<Member> &members) : kind_(kind), members_(members)
    {
        // CreateDispTypeInfo keeps pointers into these until the type information is built.
        std::vector<std::vector<PARAMDATA>> params(members.size());
        std::vector<METHODDATA> methods;
        UINT slot = 7; // after IUnknown and IDispatch
        for (size_t i = 0; i < members.size(); ++i) {
            for (const wchar_t *p : members[i].params)
                params[i].push_back(PARAMDATA{const_cast<OLECHAR *>(p), VT_VARIANT});
            METHODDATA m{};
            m.szName = const_cast<OLECHAR *>(members[i].name);
            m.ppdata = params[i].empty() ? nullptr : params[i].data();
            m.dispid = members[i].id;
            m.iMeth = slot++;
            m.cc = CC_STDCALL;
            m.cArgs = UINT(params[i].size());
            m.wFlags = members[i].flags;
            m.vtReturn = members[i].result;
            methods.push_back(m);
        }
        INTERFACEDATA data{methods.data(), UINT(methods.size())};
        ITypeInfo *info = nullptr;
        if (SUCCEEDED(CreateDispTypeInfo(&data, LOCALE_SYSTEM_DEFAULT, &info)))
            typeInfo_ = info;
    }
    virtual ~Object()
    {
        if (typeInfo_)
            typeInfo_->Release();
    }

    STDMETHODIMP QueryInterface(REFIID iid, void **out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
            *out = static_cast<IDispatch *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return ULONG(left);
    }
    STDMETHODIMP GetTypeInfoCount(UINT *count) override
    {
        if (!count)
            return E_POINTER;
        *count = typeInfo_ ? 1 : 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo **info) override
    {
        if (!info)
            return E_POINTER;
        *info = nullptr;
        if (index != 0 || !typeInfo_)
            return DISP_E_BADINDEX;
        typeInfo_->AddRef();
        *info = typeInfo_;
        return S_OK;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *names, UINT count, LCID, DISPID *ids) override
    {
        const HRESULT result = typeInfo_ ? DispGetIDsOfNames(typeInfo_, names, count, ids) : E_FAIL;
        if (FAILED(result) && count > 0)
            Log(kind_ + L" unknown-name " + names[0]);
        return result;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *params, VARIANT *result,
                        EXCEPINFO *exception, UINT *) override
    {
        std::wstring name = L"#" + std::to_wstring(id);
        std::vector<const wchar_t *> paramNames;
        for (const Member &member : members_) {
            if (member.id == id) {
                name = member.name;
                if (member.params.size() > paramNames.size())
                    paramNames = member.params;
            }
        }
        Log(kind_ + L" " + Flags(flags) + L" " + name + L" " + Arguments(params, paramNames));
        if (result)
            VariantInit(result);
        return invoke(id, flags, params, result, exception);
    }

protected:
    virtual HRESULT invoke(DISPID id, WORD flags, DISPPARAMS *params, VARIANT *result,
                           EXCEPINFO *exception) = 0;

    std::wstring kind_;

private:
    std::vector<Member> members_;
    LONG refs_ = 1;
    ITypeInfo *typeInfo_ = nullptr;
};

} // namespace standin
