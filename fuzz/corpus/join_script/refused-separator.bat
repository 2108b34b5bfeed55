copy /b a.0+a.1 a&del a.0
