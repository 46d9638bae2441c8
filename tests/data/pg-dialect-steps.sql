INSERT INTO DateRange (Date_ID,LogDate,DateTotal,DateImported) VALUES (1,'25/12/2003',12.5,'25/12/2003 08:00:00')
INSERT INTO DateRange (Date_ID,LogDate,DateTotal,DateImported) VALUES (2,'26/12/2003',0,'26/12/2003')
SELECT * FROM DateRange WHERE Format(LogDate,'dd/mm/yy') ='25/12/03'
SELECT Date_ID FROM DateRange WHERE Format(DateImported,'dd/mm/yyyy') ='26/12/2003'
SELECT MAX(Date_ID) AS [ID] FROM DateRange
INSERT INTO User (User_ID,USerName) VALUES (1,'O''Brien')
INSERT INTO user (user_id,username) VALUES (2,'User [x]; DELETE * FROM Goods -- NUMBER')
SELECT * FROM User
ALTER TABLE Goods ADD COLUMN Goods_1 NUMBER
INSERT INTO Goods (Date_ID,Session_ID,Goods_1) VALUES (1,7,2.5);
INSERT INTO Goods (Date_ID,Session_ID,Goods_1) VALUES (2,8,0)
INSERT INTO Session (Session_ID,Date_ID,LineNo,PC_No,StartTime,EndTime,TotalTime,TotalGoods,User_ID,UserCharge,Total,MemberID) VALUES (7,1,3,'PC01','09:00','09:53','0:53',2.5,1,1,3.5,' ')
INSERT INTO Shift (Shift_ID,Date_ID,LineNo,SignOn,SignOff,SignDateTime) VALUES (1,1,2,'Olga','','25/12/2003 08:55:12')
SELECT * FROM Goods ORDER BY Session_ID
SELECT session_id, LINENO, pc_No FROM SESSION
DELETE * FROM DateRange WHERE Date_ID=1
SELECT COUNT(*) AS [N] FROM Goods
SELECT * FROM Shift
SELECT * FROM DateRange
