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

/// An abstract list of text lines, each with an optional owned object. Lines walk with a
/// range-for loop (`for (const String& line : list)`); `size()` is `Count()`.
class QNINET_API TStrings : public TPersistent, public TListRange<TStrings> {
  QNINET_OBJECT(TStrings, TPersistent)
public:
  /// The number of lines.
  virtual int Count() const = 0;
  /// What the range-for loop reads: `Strings(index)`.
  String ListElement(int index) const { return Strings(index); }
  /// Raise `EStringListError` "List index out of bounds (N)" for a bad index.
  virtual String Strings(int index) const = 0;
  /// Replaces line `index`; raises `EStringListError` for a bad index.
  virtual void SetStrings(int index, const String& value) = 0;
  /// The object of line `index`, or none; raises `EStringListError` for a bad index.
  virtual TObject* Objects(int index) const = 0;
  /// The list takes the object over; a previous object of the line is destroyed.
  virtual void SetObject(int index, std::unique_ptr<TObject> object) = 0;
  /// Inserts a line before `index` (`Count()` appends); raises `EStringListError` for a bad index.
  virtual void Insert(int index, const String& value) = 0;
  /// Inserts a line with its object, which the list takes over.
  virtual void InsertObject(int index, const String& value, std::unique_ptr<TObject> object);
  /// Deletes line `index` and its object; raises `EStringListError` for a bad index.
  virtual void Delete(int index) = 0;
  /// Deletes every line and object.
  virtual void Clear() = 0;

  /// Appends and returns the index of the new line.
  virtual int Add(const String& value);
  /// Appends a line with its object, which the list takes over, and returns its index.
  int AddObject(const String& value, std::unique_ptr<TObject> object);
  /// Appends the lines of `other` (without their objects).
  void AddStrings(const TStrings& other);
  /// Appends a line.
  void Append(const String& value) { Add(value); }

  /// The lines joined, each followed by `LineBreak()`.
  String Text() const;
  /// Splits at CR, LF or CRLF; a final line break adds no empty line.
  void SetText(StringView text);
  /// What `Text` writes after each line; CRLF by default.
  const String& LineBreak() const { return FLineBreak; }
  /// Sets `LineBreak`.
  void SetLineBreak(const String& value) { FLineBreak = value; }

  /// The part before the first "=" of line `index`; empty when the line has none.
  String Names(int index) const;
  /// The part after "=" of the first line named `name`; empty when there is none.
  String Values(StringView name) const;
  /// Sets the value of the first line named `name`, adding a line; an empty value deletes it.
  void SetValues(StringView name, const String& value);
  /// The part after the first "=" of line `index`; empty when the line has none.
  String ValueFromIndex(int index) const;

  /// The index of the first line equal to `s` (as `CaseSensitive` says), or -1.
  virtual int IndexOf(StringView s) const;
  /// The index of the first line named `name` (the part before "="), or -1.
  int IndexOfName(StringView name) const;
  /// The index of the first line holding `object`, or -1.
  int IndexOfObject(const TObject* object) const;
  /// Whether lines are compared with regard to case; false by default.
  bool CaseSensitive() const { return FCaseSensitive; }
  /// Sets `CaseSensitive`.
  virtual void SetCaseSensitive(bool value) { FCaseSensitive = value; }

  /// Copies the lines of another string list; objects stay with their list.
  void Assign(const TPersistent* Source) override;
  /// Whether both lists hold the same lines in the same order.
  bool Equals(const TStrings& other) const;

  /// Reads text, UTF-8 or UTF-16 by its byte-order mark, else UTF-8 when valid, else Latin-1.
  void LoadFromFile(const String& fileName);
  /// Reads the stream's remaining bytes as `LoadFromFile` reads a file.
  void LoadFromStream(TStream& stream);
  /// Writes `Text` as UTF-8. Raise the file errors of `TFileStream`.
  void SaveToFile(const String& fileName) const;
  /// Writes `Text` as UTF-8 into the stream.
  void SaveToStream(TStream& stream) const;

  /// Starts a batch of changes: `OnChange` waits until the matching `EndUpdate`.
  void BeginUpdate();
  /// Ends a batch of changes started by `BeginUpdate`.
  void EndUpdate();
  /// How many `BeginUpdate` calls are still open.
  int UpdateCount() const { return FUpdateCount; }

protected:
  /// Whether two lines are equal, as `CaseSensitive` says.
  bool same(StringView a, StringView b) const;
  /// Called with true when a batch of changes starts and false when it ends.
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
  /// Sets `CaseSensitive`.
  void SetCaseSensitive(bool value) override;

  /// Whether the list keeps its lines sorted; setting it sorts them.
  bool Sorted() const { return FSorted; }
  /// Sets `Sorted`.
  void SetSorted(bool value);
  /// What adding a line that is already there does to a sorted list: ignore it, accept it, or raise
  /// `EStringListError`.
  TDuplicates Duplicates() const { return FDuplicates; }
  /// Sets `Duplicates`.
  void SetDuplicates(TDuplicates value) { FDuplicates = value; }
  /// Sorts the lines, as `CaseSensitive` says.
  void Sort();
  /// In a sorted list: whether `s` is there, and where it is or would go.
  bool Find(StringView s, int& index) const;
  /// Swaps lines `a` and `b` with their objects.
  void Exchange(int a, int b);

  /// Called after each change, unless inside `BeginUpdate`/`EndUpdate`.
  const std::function<void(TObject*)>& OnChange() const { return FOnChange; }
  /// Sets the `OnChange` handler.
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
