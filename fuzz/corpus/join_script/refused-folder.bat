copy /b ..\a.0+sub/a.1 ../a
