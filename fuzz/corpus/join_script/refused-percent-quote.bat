copy /b "%TEMP%.0"+"a.1 a
