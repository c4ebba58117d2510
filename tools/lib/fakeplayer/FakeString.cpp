#include "tools/lib/fakeplayer/FakePlayer.h"

#include <algorithm>

namespace fakeplayer {

namespace {

// The player's strings check their arguments the way a careful player would: a negative count
// is refused, and so is a null text with characters to read.
HRESULT CheckText(const TAIMPChar* Chars, std::int32_t Count) noexcept
{
    if (Count < 0)
        return E_INVALIDARG;
    if (!Chars && Count > 0)
        return E_POINTER;
    return S_OK;
}

TText MakeText(const TAIMPChar* Chars, std::int32_t Count)
{
    return Count > 0 ? TText(Chars, static_cast<std::size_t>(Count)) : TText();
}

// Case folding of the basic Latin letters; other code units are left as they are.
TAIMPChar FoldCase(TAIMPChar C, std::int32_t Mode) noexcept
{
    if (Mode == AIMP_STRING_CASE_LOWER && C >= 'A' && C <= 'Z')
        return static_cast<TAIMPChar>(C - 'A' + 'a');
    if (Mode == AIMP_STRING_CASE_UPPER && C >= 'a' && C <= 'z')
        return static_cast<TAIMPChar>(C - 'a' + 'A');
    return C;
}

TText Folded(TText AText, bool AIgnoreCase)
{
    if (AIgnoreCase)
        for (TAIMPChar& c : AText)
            c = FoldCase(c, AIMP_STRING_CASE_LOWER);
    return AText;
}

bool InRange(std::int32_t Index, std::int32_t Count, std::size_t Size) noexcept
{
    return Index >= 0 && Count >= 0 && static_cast<std::int64_t>(Index) + Count <= static_cast<std::int64_t>(Size);
}

HRESULT CompareTexts(const TText& A, const TText& B, BOOL IgnoreCase, int32_t* CompareResult)
{
    if (!CompareResult)
        return E_POINTER;
    const int order = Folded(A, IgnoreCase != 0).compare(Folded(B, IgnoreCase != 0));
    *CompareResult = order < 0 ? -1 : (order > 0 ? 1 : 0);
    return S_OK;
}

// Finds APattern from AStart on; not found answers E_FAIL with Index -1.
HRESULT FindText(const TText& AText, const TText& APattern, int32_t* Index, int32_t Flags, int32_t AStart)
{
    if (!Index)
        return E_POINTER;
    *Index = -1;
    if (AStart < 0 || static_cast<std::size_t>(AStart) > AText.size())
        return E_INVALIDARG;
    const bool ignoreCase = (Flags & AIMP_STRING_FIND_IGNORECASE) != 0;
    const std::size_t at =
        Folded(AText, ignoreCase).find(Folded(APattern, ignoreCase), static_cast<std::size_t>(AStart));
    if (at == TText::npos)
        return E_FAIL;
    *Index = static_cast<int32_t>(at);
    return S_OK;
}

// Replaces every occurrence of AOld, which must not be empty.
HRESULT ReplaceText(TText& AText, const TText& AOld, const TText& ANew, int32_t Flags)
{
    if (AOld.empty())
        return E_INVALIDARG;
    const bool ignoreCase = (Flags & AIMP_STRING_FIND_IGNORECASE) != 0;
    const TText pattern = Folded(AOld, ignoreCase);
    TText result;
    std::size_t from = 0;
    const TText haystack = Folded(AText, ignoreCase);
    for (std::size_t at = haystack.find(pattern); at != TText::npos; at = haystack.find(pattern, from)) {
        result.append(AText, from, at - from);
        result += ANew;
        from = at + pattern.size();
    }
    result.append(AText, from, TText::npos);
    AText = std::move(result);
    return S_OK;
}

} // namespace

TText TextOf(IAIMPString* S)
{
    if (!S)
        return {};
    const TAIMPChar* chars = S->GetChars();
    const std::int32_t count = S->GetCharCount();
    return chars ? MakeText(chars, count) : TText();
}

TFakeString* TFakeString::Make(std::shared_ptr<TLedger> ALedger, TText AText)
{
    if (!ALedger)
        ALedger = std::make_shared<TLedger>();
    return new TFakeString(std::move(ALedger), std::move(AText));
}

TFakeString::TFakeString(std::shared_ptr<TLedger> ALedger, TText AText)
    : TFakeCounted(std::move(ALedger)), FText(std::move(AText))
{
    FLedger->Count(TObjectKind::String, TLedger::TEvent::Made);
    FLedger->Count(TObjectKind::String, TLedger::TEvent::HandedOut);
}

TFakeString::~TFakeString()
{
    FLedger->Count(TObjectKind::String, TLedger::TEvent::Destroyed);
}

HRESULT TFakeString::HandOut(TText AText, IAIMPString** S)
{
    if (!S)
        return E_POINTER;
    *S = Make(FLedger, std::move(AText));
    return S_OK;
}

HRESULT TFakeString::QueryInterface(REFIID AIID, void** Obj)
{
    if (!Obj)
        return E_POINTER;
    if (AnswerIdentity(AIID, Obj, {IID_IUnknown, IID_IAIMPString}))
        return S_OK;
    *Obj = nullptr;
    return E_NOINTERFACE;
}

HRESULT TFakeString::GetChar(int32_t Index, TAIMPChar* Char)
{
    if (!Char)
        return E_POINTER;
    if (!InRange(Index, 1, FText.size()))
        return E_INVALIDARG;
    *Char = FText[static_cast<std::size_t>(Index)];
    return S_OK;
}

TAIMPChar* TFakeString::GetChars()
{
    return FNullCharacters ? nullptr : FText.data();
}

int32_t TFakeString::GetCharCount()
{
    return static_cast<int32_t>(FText.size());
}

int32_t TFakeString::GetHashCode()
{
    // FNV-1a over the code units.
    std::uint32_t hash = 2166136261u;
    for (TAIMPChar c : FText) {
        hash ^= static_cast<std::uint16_t>(c);
        hash *= 16777619u;
    }
    return static_cast<int32_t>(hash);
}

HRESULT TFakeString::SetChar(int32_t Index, TAIMPChar Char)
{
    if (!InRange(Index, 1, FText.size()))
        return E_INVALIDARG;
    FText[static_cast<std::size_t>(Index)] = Char;
    return S_OK;
}

HRESULT TFakeString::SetChars(const TAIMPChar* Chars, int32_t CharsCount)
{
    TCall call;
    call.Kind = TCallKind::SetChars;
    call.NullText = Chars == nullptr;
    call.Count = CharsCount;
    HRESULT result = CheckText(Chars, CharsCount);
    if (SUCCEEDED(result)) {
        call.Text = MakeText(Chars, CharsCount);
        result = FLedger->Faults.SetChars.For(FLedger->NextCall(TCallKind::SetChars));
        if (SUCCEEDED(result))
            FText = call.Text;
    }
    call.Result = result;
    FLedger->Calls.push_back(std::move(call));
    return result;
}

HRESULT TFakeString::Add(IAIMPString* S)
{
    if (!S)
        return E_POINTER;
    FText += TextOf(S);
    return S_OK;
}

HRESULT TFakeString::Add2(const TAIMPChar* Chars, int32_t CharsCount)
{
    const HRESULT check = CheckText(Chars, CharsCount);
    if (SUCCEEDED(check))
        FText += MakeText(Chars, CharsCount);
    return check;
}

HRESULT TFakeString::ChangeCase(int32_t Mode)
{
    if (Mode != AIMP_STRING_CASE_LOWER && Mode != AIMP_STRING_CASE_UPPER)
        return E_INVALIDARG;
    for (TAIMPChar& c : FText)
        c = FoldCase(c, Mode);
    return S_OK;
}

HRESULT TFakeString::Clone(IAIMPString** S)
{
    return HandOut(FText, S);
}

HRESULT TFakeString::Compare(IAIMPString* S, int32_t* CompareResult, BOOL IgnoreCase)
{
    if (!S)
        return E_POINTER;
    return CompareTexts(FText, TextOf(S), IgnoreCase, CompareResult);
}

HRESULT TFakeString::Compare2(const TAIMPChar* Chars, int32_t CharsCount, int32_t* CompareResult, BOOL IgnoreCase)
{
    const HRESULT check = CheckText(Chars, CharsCount);
    if (FAILED(check))
        return check;
    return CompareTexts(FText, MakeText(Chars, CharsCount), IgnoreCase, CompareResult);
}

HRESULT TFakeString::Delete(int32_t Index, int32_t Count)
{
    if (!InRange(Index, Count, FText.size()))
        return E_INVALIDARG;
    FText.erase(static_cast<std::size_t>(Index), static_cast<std::size_t>(Count));
    return S_OK;
}

HRESULT TFakeString::Find(IAIMPString* S, int32_t* Index, int32_t Flags, int32_t StartFromIndex)
{
    if (!S)
        return E_POINTER;
    return FindText(FText, TextOf(S), Index, Flags, StartFromIndex);
}

HRESULT TFakeString::Find2(const TAIMPChar* Chars, int32_t CharsCount, int32_t* Index, int32_t Flags,
                           int32_t StartFromIndex)
{
    const HRESULT check = CheckText(Chars, CharsCount);
    if (FAILED(check))
        return check;
    return FindText(FText, MakeText(Chars, CharsCount), Index, Flags, StartFromIndex);
}

HRESULT TFakeString::Insert(int32_t Index, IAIMPString* S)
{
    if (!S)
        return E_POINTER;
    const TText text = TextOf(S);
    return Insert2(Index, text.data(), static_cast<int32_t>(text.size()));
}

HRESULT TFakeString::Insert2(int32_t Index, const TAIMPChar* Chars, int32_t CharsCount)
{
    const HRESULT check = CheckText(Chars, CharsCount);
    if (FAILED(check))
        return check;
    if (!InRange(Index, 0, FText.size()))
        return E_INVALIDARG;
    FText.insert(static_cast<std::size_t>(Index), MakeText(Chars, CharsCount));
    return S_OK;
}

HRESULT TFakeString::Replace(IAIMPString* OldPattern, IAIMPString* NewPattern, int32_t Flags)
{
    if (!OldPattern || !NewPattern)
        return E_POINTER;
    return ReplaceText(FText, TextOf(OldPattern), TextOf(NewPattern), Flags);
}

HRESULT TFakeString::Replace2(const TAIMPChar* OldPatternChars, int32_t OldPatternCount,
                              const TAIMPChar* NewPatternChars, int32_t NewPatternCount, int32_t Flags)
{
    HRESULT check = CheckText(OldPatternChars, OldPatternCount);
    if (SUCCEEDED(check))
        check = CheckText(NewPatternChars, NewPatternCount);
    if (FAILED(check))
        return check;
    return ReplaceText(FText, MakeText(OldPatternChars, OldPatternCount), MakeText(NewPatternChars, NewPatternCount),
                       Flags);
}

HRESULT TFakeString::SubString(int32_t Index, int32_t Count, IAIMPString** S)
{
    if (!S)
        return E_POINTER;
    *S = nullptr;
    if (!InRange(Index, Count, FText.size()))
        return E_INVALIDARG;
    return HandOut(FText.substr(static_cast<std::size_t>(Index), static_cast<std::size_t>(Count)), S);
}

} // namespace fakeplayer
