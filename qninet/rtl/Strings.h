#pragma once
// Ordered lists of strings with name=value access; each line may own an object.

#include <functional>
#include <memory>
#include <vector>

#include "qninet/rtl/Classes.h"
#include "qninet/rtl/ListRange.h"

namespace qninet {

class TStream;

enum TDuplicates : std::uint8_t { dupIgnore, dupAccept, dupError };

/// Lines walk with a range-for loop (`for (const String& line : list)`); `size()` is `Count()`.
class QNINET_API TStrings : public TPersistent, public TListRange<TStrings> {
  QNINET_OBJECT(TStrings, TPersistent)
public:
  virtual int Count() const = 0;
  /// What the range-for loop reads: `Strings(index)`.
  String ListElement(int index) const { return Strings(index); }
  /// Raise `EStringListError` "List index out of bounds (N)" for a bad index.
  virtual String Strings(int index) const = 0;
  virtual void SetStrings(int index, const String& value) = 0;
  virtual TObject* Objects(int index) const = 0;
  /// The list takes the object over; a previous object of the line is destroyed.
  virtual void SetObject(int index, std::unique_ptr<TObject> object) = 0;
  virtual void Insert(int index, const String& value) = 0;
  virtual void InsertObject(int index, const String& value, std::unique_ptr<TObject> object);
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;

  /// Appends and returns the index of the new line.
  virtual int Add(const String& value);
  int AddObject(const String& value, std::unique_ptr<TObject> object);
  void AddStrings(const TStrings& other);
  void Append(const String& value) { Add(value); }

  /// The lines joined, each followed by `LineBreak()`.
  String Text() const;
  /// Splits at CR, LF or CRLF; a final line break adds no empty line.
  void SetText(StringView text);
  const String& LineBreak() const { return FLineBreak; }
  void SetLineBreak(const String& value) { FLineBreak = value; }

  /// The part before the first "=" of line `index`; empty when the line has none.
  String Names(int index) const;
  /// The part after "=" of the first line named `name`; empty when there is none.
  String Values(StringView name) const;
  /// Sets the value of the first line named `name`, adding a line; an empty value deletes it.
  void SetValues(StringView name, const String& value);
  String ValueFromIndex(int index) const;

  virtual int IndexOf(StringView s) const;
  int IndexOfName(StringView name) const;
  int IndexOfObject(const TObject* object) const;
  bool CaseSensitive() const { return FCaseSensitive; }
  virtual void SetCaseSensitive(bool value) { FCaseSensitive = value; }

  /// Copies the lines of another string list; objects stay with their list.
  void Assign(const TPersistent* Source) override;
  bool Equals(const TStrings& other) const;

  /// Reads text, UTF-8 or UTF-16 by its byte-order mark, else UTF-8 when valid, else Latin-1.
  void LoadFromFile(const String& fileName);
  void LoadFromStream(TStream& stream);
  /// Writes `Text` as UTF-8. Raise the file errors of `TFileStream`.
  void SaveToFile(const String& fileName) const;
  void SaveToStream(TStream& stream) const;

  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return FUpdateCount; }

protected:
  bool same(StringView a, StringView b) const;
  virtual void SetUpdateState(bool) {}

private:
  String FLineBreak = u"\r\n";
  bool FCaseSensitive = false;
  int FUpdateCount = 0;
};

/// The concrete list. Sorting keeps lines ordered and finds them by halving.
class QNINET_API TStringList : public TStrings {
  QNINET_OBJECT(TStringList, TStrings)
public:
  TStringList() = default;
  ~TStringList() override;

  int Count() const override { return static_cast<int>(FList.size()); }
  String Strings(int index) const override;
  void SetStrings(int index, const String& value) override;
  TObject* Objects(int index) const override;
  void SetObject(int index, std::unique_ptr<TObject> object) override;
  void Insert(int index, const String& value) override;
  void InsertObject(int index, const String& value, std::unique_ptr<TObject> object) override;
  void Delete(int index) override;
  void Clear() override;
  /// Makes room for `value` lines in all, so that adding up to that many moves none.
  void SetCapacity(int value) {
    if (value > 0) FList.reserve(static_cast<std::size_t>(value));
  }
  int Add(const String& value) override;
  int IndexOf(StringView s) const override;
  void SetCaseSensitive(bool value) override;

  bool Sorted() const { return FSorted; }
  void SetSorted(bool value);
  TDuplicates Duplicates() const { return FDuplicates; }
  void SetDuplicates(TDuplicates value) { FDuplicates = value; }
  void Sort();
  /// In a sorted list: whether `s` is there, and where it is or would go.
  bool Find(StringView s, int& index) const;
  void Exchange(int a, int b);

  /// Called after each change, unless inside `BeginUpdate`/`EndUpdate`.
  const std::function<void(TObject*)>& OnChange() const { return FOnChange; }
  void SetOnChange(std::function<void(TObject*)> handler) { FOnChange = std::move(handler); }

protected:
  void SetUpdateState(bool updating) override;

private:
  struct Item {
    String Text;
    std::unique_ptr<TObject> Object;
  };
  void check(int index) const;
  void changed();
  int compare(StringView a, StringView b) const;

  std::vector<Item> FList;
  bool FSorted = false;
  TDuplicates FDuplicates = dupIgnore;
  std::function<void(TObject*)> FOnChange;
};

}  // namespace qninet
