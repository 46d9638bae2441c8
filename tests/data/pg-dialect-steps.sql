# Steps played on an SQLite file and on the PostgreSQL server by postgres_test, each with what it
# must give on both: "step -> outcome". Steps: begin, commit, rollback (the depth afterwards); a
# query (its column names, then each row, values ending in "|"; an import time shows as "a date");
# any other statement, or one after "run " (the rows it changed). A failure gives its number.
INSERT INTO DateRange (Date_ID,LogDate,DateTotal,DateImported) VALUES (1,'25/12/2003',12.5,'25/12/2003 08:00:00') -> 1
INSERT INTO DateRange (Date_ID,LogDate,DateTotal,DateImported) VALUES (2,'26/12/2003',0,'26/12/2003') -> 1
SELECT * FROM DateRange WHERE Format(LogDate,'dd/mm/yy') ='25/12/03' -> Date_ID|LogDate|DateTotal|DateImported|; 1|25/12/2003|12.5|a date|
SELECT Date_ID FROM DateRange WHERE Format(DateImported,'dd/mm/yyyy') ='26/12/2003' -> Date_ID|; 2|
SELECT MAX(Date_ID) AS [ID] FROM DateRange -> ID|; 2|
INSERT INTO User (User_ID,USerName) VALUES (1,'O''Brien') -> 1
INSERT INTO user (user_id,username) VALUES (2,'User [x]; DELETE * FROM Goods -- NUMBER') -> 1
SELECT * FROM User -> User_ID|UserName|; 1|O'Brien|; 2|User [x]; DELETE * FROM Goods -- NUMBER|
ALTER TABLE Goods ADD COLUMN Goods_1 NUMBER -> 0
INSERT INTO Goods (Date_ID,Session_ID,Goods_1) VALUES (1,7,2.5); -> 1
INSERT INTO Goods (Date_ID,Session_ID,Goods_1) VALUES (2,8,0) -> 1
INSERT INTO Session (Session_ID,Date_ID,LineNo,PC_No,StartTime,EndTime,TotalTime,TotalGoods,User_ID,UserCharge,Total,MemberID) VALUES (7,1,3,'PC01','09:00','09:53','0:53',2.5,1,1,3.5,' ') -> 1
INSERT INTO Shift (Shift_ID,Date_ID,LineNo,SignOn,SignOff,SignDateTime) VALUES (1,1,2,'Olga','','25/12/2003 08:55:12') -> 1
SELECT * FROM Goods ORDER BY Session_ID -> Date_ID|Session_ID|Goods_1|; 1|7|2.5|; 2|8|0|
SELECT session_id, LINENO, pc_No FROM SESSION -> Session_ID|LineNo|PC_No|; 7|3|PC01|
DELETE * FROM DateRange WHERE Date_ID=1 -> 1
SELECT COUNT(*) AS [N] FROM Goods -> N|; 1|
SELECT * FROM Shift -> Shift_ID|Date_ID|LineNo|SignOn|SignOff|SignDateTime|
SELECT * FROM DateRange -> Date_ID|LogDate|DateTotal|DateImported|; 2|26/12/2003|0|a date|
# Inside a transaction a failed statement leaves the rest of it going; nested levels end the innermost.
begin -> depth 1
INSERT INTO Shift (Shift_ID,Date_ID,LineNo,SignOn) VALUES (11,1,1,'kept') -> 1
INSERT INTO Shift (Shift_ID,Date_ID,LineNo,SignOn) VALUES (11,1,1,'again') -> error -2423534
run SELECT * FROM Nowhere -> error -2147217900
run SELECT 1; DELETE FROM Shift -> error -2147217900
run SELECT E'\''; DELETE FROM Shift; --' -> error -2147217900
run SELECT $$;$$; DELETE FROM Shift -> error -2147217900
run SELECT * FROM -> error -2147217900
-- a comment alone -> error -2147217900
INSERT INTO Shift (Shift_ID) VALUES ('x') -> error -2147217900
run  -> error -2147217900
INSERT INTO Shift (Shift_ID,Date_ID,LineNo,SignOn) VALUES (12,1,2,'after the failures') -> 1
begin -> depth 2
INSERT INTO Shift (Shift_ID,Date_ID,LineNo,SignOn) VALUES (13,1,3,'undone') -> 1
INSERT INTO Shift (Shift_ID,Date_ID,LineNo,SignOn) VALUES (12,1,2,'twice') -> error -2423534
rollback -> depth 1
begin -> depth 2
INSERT INTO Shift (Shift_ID,Date_ID,LineNo,SignOn) VALUES (14,1,4,'nested') -> 1
commit -> depth 1
commit -> depth 0
SELECT Shift_ID, SignOn FROM Shift ORDER BY Shift_ID -> Shift_ID|SignOn|; 11|kept|; 12|after the failures|; 14|nested|
