rem the parts of notes.txt
:: in order

  copy  /b  notes.txt.0+notes.txt.1 notes.txt
