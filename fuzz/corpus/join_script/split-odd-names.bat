@Echo Off
Echo Tarvo Group's File Splitter
Echo *************************
copy /b "a&b (1)+c.bin.0"+"a&b (1)+c.bin.1"+"a&b (1)+c.bin.2"+"a&b (1)+c.bin.3" "a&b (1)+c.bin"